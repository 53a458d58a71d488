#pragma once
// Reading another process's windows as a user would see them: class, text,
// style bits by name, rectangles, enabled state, list lines.
#include <windows.h>

#include <string>
#include <vector>

std::wstring ClassOf(HWND window);
std::wstring LowerClassOf(HWND window);  // classes compare without case

// The text through WM_GETTEXT (what the control itself reports); the stored
// window text when the owning thread does not answer in time.
std::wstring TextOf(HWND window);

int IdOf(HWND window);

// "WS_CHILD|WS_VISIBLE|BS_GROUPBOX"; bits without a name as hex.
std::string StyleNames(HWND window);
std::string ExStyleNames(HWND window);  // empty when 0

// The window's outer rectangle in the client coordinates of `reference`
// (null: screen coordinates).
RECT RectIn(HWND window, HWND reference);
std::string AtSize(const RECT& rect);  // "at=30,10 size=340x80"

// Direct children in Z order, which is their creation order.
std::vector<HWND> ChildrenOf(HWND parent);
HWND ChildById(HWND parent, int id);

struct ListState {
    int count = 0;
    int selected = -1;
    std::vector<std::wstring> lines;
};
bool ReadList(HWND comboBox, ListState& state);

// The dropped-down rectangle of a combo box, in the client coordinates of `reference`.
bool DroppedRect(HWND comboBox, HWND reference, RECT& rect);

// Whether a description gives positions and sizes. Only the window scenario
// asserts geometry; behaviour scenarios read states, so a layout change is
// made in one place.
enum class Geometry { SHOWN, LEFT_OUT };

// One line describing a child control (without the leading keyword).
std::string DescribeControl(HWND control, HWND reference, Geometry geometry);
