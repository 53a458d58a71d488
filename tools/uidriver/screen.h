#pragma once
// Pixels of the screen as the platform composes it (BitBlt from the screen
// DC), and of drawings made the same way. Read from inside Wine: xwd on the
// X display shows Wine's dialogs as black squares.
#include <windows.h>

#include <functional>
#include <vector>

// 32-bit top-down pixels (0x00RRGGBB) of a width x height area.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> data;
};

// What `paint` draws on a fresh width x height surface filled with
// `background`; empty when the area is or no surface can be made.
Pixels PaintPixels(int width, int height, DWORD background, const std::function<void(HDC)>& paint);

// The screen inside `rect` (screen coordinates).
Pixels CaptureScreen(const RECT& rect);
