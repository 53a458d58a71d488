#pragma once
// Keyboard focus and keystrokes with the real key state: accelerators and
// dialog keys react only to input that arrives as from the keyboard.
#include <windows.h>

#include <string>

// Makes `topLevel` the active window and gives `target` the keyboard focus,
// by sharing the input state of the target's thread for the moment.
void GiveFocus(DWORD targetThread, HWND topLevel, HWND target);

// The window that has the keyboard focus in the thread, or null.
HWND FocusOf(DWORD thread);

// A chord such as "alt+?", "alt+/", "esc", "enter", "space", "shift+tab":
// modifiers down, the key down and up, modifiers up, through SendInput. A
// single character is typed with the keys the keyboard layout needs for it.
bool SendChord(const std::wstring& chord, std::string& error);
