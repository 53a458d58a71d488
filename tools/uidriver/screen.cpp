#include "tools/uidriver/screen.h"

#include <algorithm>

Pixels PaintPixels(int width, int height, DWORD background, const std::function<void(HDC)>& paint)
{
    Pixels out;
    if (width <= 0 || height <= 0) {
        return out;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    if (!bitmap) {
        return out;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    DWORD* bits = static_cast<DWORD*>(memory);
    const size_t count = static_cast<size_t>(width) * height;
    std::fill(bits, bits + count, background);
    paint(dc);
    GdiFlush();
    out.width = width;
    out.height = height;
    out.data.assign(bits, bits + count);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return out;
}

Pixels CaptureScreen(const RECT& rect)
{
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    Pixels out = PaintPixels(width, height, 0,
                             [&](HDC dc) { BitBlt(dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY); });
    ReleaseDC(nullptr, screen);
    return out;
}
