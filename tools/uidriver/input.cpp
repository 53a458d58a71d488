#include "tools/uidriver/input.h"

#include <vector>

#include "tools/uidriver/text.h"

void GiveFocus(DWORD targetThread, HWND topLevel, HWND target)
{
    const DWORD self = GetCurrentThreadId();
    const bool attached = AttachThreadInput(self, targetThread, TRUE) != 0;
    SetForegroundWindow(topLevel);
    SetActiveWindow(topLevel);
    SetFocus(target);
    if (attached) {
        AttachThreadInput(self, targetThread, FALSE);
    }
}

HWND FocusOf(DWORD thread)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

struct NamedKey {
    const wchar_t* name;
    WORD key;
};

static const NamedKey NAMED_KEYS[] = {
    {L"esc", VK_ESCAPE}, {L"enter", VK_RETURN}, {L"space", VK_SPACE}, {L"tab", VK_TAB},
    {L"up", VK_UP},      {L"down", VK_DOWN},    {L"left", VK_LEFT},   {L"right", VK_RIGHT},
    {L"f1", VK_F1},      {L"f4", VK_F4},        {L"alt", VK_MENU},    {L"backspace", VK_BACK},
};

static INPUT KeyEvent(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

bool SendChord(const std::wstring& chord, std::string& error)
{
    std::vector<WORD> modifiers;
    std::wstring rest = chord;
    for (;;) {
        const size_t plus = rest.find(L'+');
        if (plus == std::wstring::npos || plus + 1 == rest.size()) {
            break;  // "alt++" types "+" with Alt
        }
        const std::wstring name = rest.substr(0, plus);
        if (name == L"alt") {
            modifiers.push_back(VK_MENU);
        } else if (name == L"ctrl") {
            modifiers.push_back(VK_CONTROL);
        } else if (name == L"shift") {
            modifiers.push_back(VK_SHIFT);
        } else {
            error = "unknown modifier " + Utf8(name);
            return false;
        }
        rest = rest.substr(plus + 1);
    }

    WORD key = 0;
    for (const NamedKey& named : NAMED_KEYS) {
        if (rest == named.name) {
            key = named.key;
        }
    }
    if (key == 0) {
        if (rest.size() != 1) {
            error = "unknown key " + Utf8(rest);
            return false;
        }
        const SHORT scan = VkKeyScanW(rest[0]);
        if (scan == -1) {
            error = "no key makes " + Utf8(rest);
            return false;
        }
        key = LOBYTE(scan);
        if (HIBYTE(scan) & 1) modifiers.push_back(VK_SHIFT);
        if (HIBYTE(scan) & 2) modifiers.push_back(VK_CONTROL);
        if (HIBYTE(scan) & 4) modifiers.push_back(VK_MENU);
    }

    std::vector<INPUT> events;
    for (WORD modifier : modifiers) {
        events.push_back(KeyEvent(modifier, false));
    }
    events.push_back(KeyEvent(key, false));
    events.push_back(KeyEvent(key, true));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        events.push_back(KeyEvent(*it, true));
    }
    const UINT sent = SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT));
    if (sent != events.size()) {
        error = "SendInput sent " + std::to_string(sent) + " of " + std::to_string(events.size()) + " events";
        return false;
    }
    return true;
}
