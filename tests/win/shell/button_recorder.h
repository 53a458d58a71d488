#pragma once
// A button on the test thread that records every text it is given: progress
// texts may last microseconds, so they are caught where they are set.
#include <string>
#include <vector>
#include <windows.h>

class ButtonRecorder {
public:
    ButtonRecorder()
    {
        m_button = CreateWindowExW(0, L"button", L"", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr, nullptr, nullptr);
        SetPropW(m_button, L"recorder", this);
        m_original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(m_button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ButtonRecorder::Proc)));
    }
    ~ButtonRecorder() { DestroyWindow(m_button); }

    HWND Handle() const { return m_button; }
    const std::vector<std::wstring>& Texts() const { return m_texts; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = static_cast<ButtonRecorder*>(GetPropW(window, L"recorder"));
        if (message == WM_SETTEXT && lParam) self->m_texts.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
        return CallWindowProcW(self->m_original, window, message, wParam, lParam);
    }

    HWND m_button;
    WNDPROC m_original;
    std::vector<std::wstring> m_texts;
};
