#pragma once
// Screenshots of the program under test, taken in-process: the screen as the
// platform composes it, encoded as PNG by the Windows Imaging Component
// (WIC). Under Wine 8 both WIC and GDI+ write the same PNG; WIC needs no
// start-up token and is what GDI+ uses there underneath.
#include <windows.h>

#include <string>
#include <vector>

// The part of the screen that holds these windows (the program's main
// window, boxes, dropped lists); the whole screen when none shows. What a
// reader wants to see, without the empty desktop around it.
RECT AreaOf(const std::vector<HWND>& windows);

// Writes `area` of the screen to `pngPath` (a Windows path). The file
// appears whole or not at all: it is written beside and renamed into place.
// False with a reason in `error`.
bool SaveScreenPng(const RECT& area, const std::wstring& pngPath, std::string& error);
