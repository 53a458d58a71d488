// Steps on dialogs and message boxes: waiting for one, reading its
// geometry, items and icon, closing it, and making sure none opens.
#include "tools/uidriver/steps.h"

#include "tools/uidriver/dialog_geometry.h"
#include "tools/uidriver/input.h"
#include "tools/uidriver/window_reader.h"

// The enabled dialog of the process on top (a modal box disables its owner).
HWND StepRunner::FindDialog()
{
    for (HWND dialog : m_program.Dialogs()) {
        if (IsWindowEnabled(dialog)) return dialog;
    }
    return nullptr;
}

// wait-dialog [<seconds>] [units "<font face>" <points>]
bool StepRunner::WaitDialog(const std::vector<std::wstring>& args)
{
    size_t next = 0;
    DWORD timeout = m_options.timeoutMs;
    if (next < args.size() && args[next] != L"units" && !Timeout(args, next++, timeout)) return false;
    DialogBase base;
    if (next < args.size()) {
        long points = 0;
        if (args.size() != next + 3 || args[next] != L"units" || !ParseInt(args[next + 2], 1, 0xFFFF, points) ||
            !MeasureDialogBase(args[next + 1], static_cast<int>(points), base)) {
            return Fail("wait-dialog [<seconds>] [units \"<face>\" <points>]");
        }
    }
    if (!WaitUntil(timeout, [&] { return (m_dialog = FindDialog()) != nullptr; })) return Fail("no dialog");
    Sleep(100);  // the dialog takes its focus once shown

    std::string line = DescribeDialog(m_dialog, OwnerName(m_dialog), base);
    HWND focus = FocusOf(GetWindowThreadProcessId(m_dialog, nullptr));
    line += " focus=" + (focus && GetParent(focus) == m_dialog ? std::to_string(IdOf(focus)) : std::string("none"));
    m_out.Line(line);
    for (HWND item : ChildrenOf(m_dialog)) {
        m_out.Line(DescribeDialogItem(item, m_dialog, base, m_icons));
    }
    return true;
}

// wait-box [<seconds>]: a message box, as its reader sees it.
bool StepRunner::WaitBox(const std::vector<std::wstring>& args)
{
    DWORD timeout = 0;
    if (!Timeout(args, 0, timeout)) return false;
    if (!WaitUntil(timeout, [&] { return (m_dialog = FindDialog()) != nullptr; })) return Fail("no message box");
    std::wstring text;
    HWND iconStatic = nullptr;
    // The text is the static with id 0xFFFF; the icon is the static showing one.
    WaitUntil(2000, [&] {
        for (HWND item : ChildrenOf(m_dialog)) {
            if (LowerClassOf(item) != L"static") continue;
            if (IdOf(item) == 0xFFFF) text = TextOf(item);
            if ((GetWindowLongW(item, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) iconStatic = item;
        }
        return !text.empty();
    });
    std::string icon = "none";
    if (iconStatic) {
        // Painting may lag behind showing: read until something is recognised.
        WaitUntil(2000, [&] {
            icon = RecogniseIcon(iconStatic, m_icons);
            return icon != "none" && icon != "unknown";
        });
    }
    std::string line = "box caption=" + Quote(TextOf(m_dialog)) + " icon=" + icon + " text=" + Quote(text);
    if (OwnerName(m_dialog) != "main") line += " owner=" + OwnerName(m_dialog);
    m_out.Line(line);
    return true;
}

// close-box: presses the box's OK (or Cancel, or only) button and waits until it is gone.
bool StepRunner::CloseBox()
{
    if (!m_dialog || !IsWindow(m_dialog)) return Fail("close-box: no box open");
    HWND button = ChildById(m_dialog, IDOK);
    if (!button) button = ChildById(m_dialog, IDCANCEL);
    for (HWND item : ChildrenOf(m_dialog)) {
        if (!button && LowerClassOf(item) == L"button") button = item;
    }
    if (!button) return Fail("close-box: the box has no button");
    PostMessageW(button, BM_CLICK, 0, 0);
    return WaitClosed({});
}

// no-dialog <ms>: nothing opens meanwhile.
bool StepRunner::NoDialog(const std::vector<std::wstring>& args)
{
    long ms = 0;
    if (args.size() != 1 || !ParseInt(args[0], 0, MAX_WAIT_MS, ms)) return Fail("no-dialog <ms>");
    HWND dialog = nullptr;
    if (WaitUntil(static_cast<DWORD>(ms), [&] { return (dialog = FindDialog()) != nullptr; })) {
        m_dialog = dialog;
        return Fail("a dialog opened: caption=" + Quote(TextOf(dialog)));
    }
    m_out.Line("no dialog");
    return true;
}

bool StepRunner::WaitClosed(const std::vector<std::wstring>& args)
{
    if (!m_dialog) return Fail("wait-closed: no dialog was open");
    DWORD timeout = 0;
    if (!Timeout(args, 0, timeout)) return false;
    if (!WaitUntil(timeout, [&] { return !IsWindow(m_dialog) || !IsWindowVisible(m_dialog); })) {
        return Fail("the dialog stayed open");
    }
    m_dialog = nullptr;
    m_out.Line("closed");
    return true;
}
