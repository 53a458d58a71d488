#pragma once
// Numbers shared by the resource script and the code: resources, window
// commands, child control ids and string-table entries.

// Icons, dialog, accelerator table.
#define IDI_MAIN             107  // large icon; also the About box picture
#define IDI_SMALL            108  // small icon of the window class
#define IDD_ABOUT            103
#define IDA_MAIN             109  // accelerator table: Alt+? and Alt+/

// Window commands and child controls of the main window.
#define ID_ABOUT             104
#define ID_UPDATE_BUTTON     112
#define ID_EXIT_BUTTON       113
#define ID_DEVICE_GROUP      114
#define ID_LATEST_GROUP      115
#define ID_STATUS_TEXT       116
#define ID_LATEST_TEXT       117
#define ID_OPTION_LIST       125

// String table.
#define IDS_CLASS_NAME       109  // "RUVO": the window class name
#define IDS_UPDATE_BUTTON    132
#define IDS_EXIT_BUTTON      133
#define IDS_DEVICE_GROUP     134
#define IDS_LATEST_GROUP     135
#define IDS_SEARCHING        136  // format with the failed-poll count
#define IDS_DOWNLOADING      140  // update button caption while downloading
#define IDS_NETWORK_CAPTION  141  // caption of the network-failure box
#define IDS_NETWORK_TEXT     142  // text of the network-failure box

// Dialog items without an id of their own; not defined by windows.h.
#ifndef IDC_STATIC
#define IDC_STATIC           (-1)
#endif
