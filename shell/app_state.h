#pragma once
// The one process-wide record of the program. Zero at start and without a
// lock: the user-interface thread fills it in at start-up and while it
// searches for the device; the worker threads take over the controls and
// scratchText only after the poll timer is gone (see main_window.cpp).
#include <windows.h>

#include <cstdint>

#include "update/catalogue_entry.h"

struct AppState {
    HINSTANCE instance;           // the program's module
    HWND mainWindow;              // owner of every message box
    HWND statusText;              // status line in the USB device group
    HWND updateButton;            // start-update button, also the progress display
    HWND exitButton;              // leave button
    HWND optionList;              // drop-down list of optional images
    int32_t pollCount;            // failed device polls so far
    wchar_t className[100];       // window class name, string 109
    wchar_t scratchText[100];     // shared composition buffer (title, poll, version, progress, errors)
    wchar_t messageText[100];     // text of the network-failure box
    int32_t deviceVersion;        // version byte of the information record (0-255)
    char versionText[5];          // four hex digits shown as the device's version
    char deviceSecondVersion[4];  // three characters of the record
    char modelId[5];              // four characters naming the model's catalogue
    int32_t catalogueCount;       // number of catalogue records
    CatalogueEntry catalogue[MAX_CATALOGUE_ENTRIES];
};

extern AppState g_app;
