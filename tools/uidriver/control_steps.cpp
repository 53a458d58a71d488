// Steps on the main window and its controls: reading texts, lists and
// states, waiting for changes, clicks, focus and keys.
#include "tools/uidriver/steps.h"

#include "tools/uidriver/input.h"
#include "tools/uidriver/pattern.h"
#include "tools/uidriver/window_reader.h"

bool StepRunner::Window(Geometry geometry)
{
    if (geometry == Geometry::SHOWN) {
        RECT desktop;
        GetClientRect(GetDesktopWindow(), &desktop);
        m_out.Line("desktop size=" + std::to_string(desktop.right - desktop.left) + "x" +
                   std::to_string(desktop.bottom - desktop.top));
    }
    std::string line =
        "window class=" + Quote(ClassOf(m_main)) + " title=" + Quote(TextOf(m_main)) + " style=" + StyleNames(m_main);
    const std::string ex = ExStyleNames(m_main);
    if (!ex.empty()) line += " exstyle=" + ex;
    if (geometry == Geometry::SHOWN) line += " " + AtSize(RectIn(m_main, nullptr));
    line += IsWindowEnabled(m_main) ? " enabled" : " disabled";
    m_out.Line(line);
    return true;
}

bool StepRunner::Controls(Geometry geometry)
{
    const char* keyword = geometry == Geometry::SHOWN ? "control " : "state ";
    for (HWND child : ChildrenOf(m_main)) {
        m_out.Line(keyword + DescribeControl(child, m_main, geometry));
        m_lastText[IdOf(child)] = TextOf(child);
    }
    return true;
}

bool StepRunner::Control(const std::vector<std::wstring>& args, Geometry geometry)
{
    const char* keyword = geometry == Geometry::SHOWN ? "control " : "state ";
    HWND control = args.size() == 1 ? ControlById(args[0]) : nullptr;
    if (!control) return Fail(std::string(keyword) + "<id>: no such control");
    m_out.Line(keyword + DescribeControl(control, m_main, geometry));
    m_lastText[IdOf(control)] = TextOf(control);
    return true;
}

bool StepRunner::Text(const std::vector<std::wstring>& args)
{
    HWND control = args.size() == 1 ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("text <id>: no such control");
    PrintText(IdOf(control), TextOf(control));
    return true;
}

// wait-text <id> "<text>" [<seconds>]   wait-match <id> "<pattern>" [<seconds>]
bool StepRunner::WaitText(const std::vector<std::wstring>& args, bool pattern)
{
    HWND control = args.size() >= 2 ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("wait-text <id> \"<text>\": no such control");
    const std::wstring& wanted = args[1];
    DWORD timeout = 0;
    if (!Timeout(args, 2, timeout)) return false;
    std::wstring now;
    const bool seen = WaitUntil(timeout, [&] {
        now = TextOf(control);
        return pattern ? Matches(wanted.c_str(), now.c_str()) : now == wanted;
    });
    if (!seen) return Fail("text of " + Utf8(args[0]) + " is " + Quote(now));
    if (pattern) {
        m_out.Line("text " + Utf8(args[0]) + " matches " + Quote(wanted));
        m_lastText[IdOf(control)] = now;
    } else {
        PrintText(IdOf(control), now);
    }
    return true;
}

// wait-change <id> [<seconds>]: until the text differs from the one last printed.
bool StepRunner::WaitChange(const std::vector<std::wstring>& args)
{
    HWND control = !args.empty() ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("wait-change <id>: no such control");
    const int id = IdOf(control);
    const std::wstring before = m_lastText.count(id) ? m_lastText[id] : TextOf(control);
    DWORD timeout = 0;
    if (!Timeout(args, 1, timeout)) return false;
    std::wstring now;
    if (!WaitUntil(timeout, [&] { return (now = TextOf(control)) != before; })) {
        return Fail("text of " + std::to_string(id) + " stayed " + Quote(before));
    }
    PrintText(id, now);
    return true;
}

// watch <id> <ms>: every distinct text the control shows meanwhile.
bool StepRunner::Watch(const std::vector<std::wstring>& args)
{
    long ms = 0;
    HWND control = args.size() == 2 && ParseInt(args[1], 0, MAX_WAIT_MS, ms) ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("watch <id> <ms>: no such control");
    const int id = IdOf(control);
    std::wstring shown = TextOf(control);
    PrintText(id, shown);
    WaitUntil(static_cast<DWORD>(ms), [&] {
        const std::wstring now = TextOf(control);
        if (now != shown) {
            shown = now;
            PrintText(id, shown);
        }
        return false;
    });
    return true;
}

bool StepRunner::WaitEnabled(const std::vector<std::wstring>& args, bool enabled)
{
    HWND control = !args.empty() ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("wait-enabled <id>: no such control");
    DWORD timeout = 0;
    if (!Timeout(args, 1, timeout)) return false;
    if (!WaitUntil(timeout, [&] { return (IsWindowEnabled(control) != 0) == enabled; })) {
        return Fail(Utf8(args[0]) + (enabled ? " stayed disabled" : " stayed enabled"));
    }
    m_out.Line(Utf8(args[0]) + (enabled ? " enabled" : " disabled"));
    return true;
}

static void PrintList(Transcript& out, int id, const ListState& list)
{
    out.Line("list " + std::to_string(id) + " lines=" + std::to_string(list.count) +
             " selected=" + std::to_string(list.selected));
    for (int i = 0; i < static_cast<int>(list.lines.size()); ++i) {
        out.Line("line " + std::to_string(i) + " " + Quote(list.lines[i]) + (i == list.selected ? " *" : ""));
    }
}

bool StepRunner::List(const std::vector<std::wstring>& args)
{
    HWND control = args.size() == 1 ? ControlById(args[0]) : nullptr;
    ListState list;
    if (!control || !ReadList(control, list)) return Fail("list <id>: no combo box answers");
    PrintList(m_out, IdOf(control), list);
    return true;
}

// wait-lines <id> <count> [<seconds>]
bool StepRunner::WaitLines(const std::vector<std::wstring>& args)
{
    long count = 0;
    HWND control = args.size() >= 2 && ParseInt(args[1], 0, INT32_MAX, count) ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("wait-lines <id> <count>: no such control");
    DWORD timeout = 0;
    if (!Timeout(args, 2, timeout)) return false;
    ListState list;
    if (!WaitUntil(timeout, [&] { return ReadList(control, list) && list.count == count; })) {
        return Fail("list " + Utf8(args[0]) + " has " + std::to_string(list.count) + " lines");
    }
    PrintList(m_out, IdOf(control), list);
    return true;
}

// select <id> <line>: what a pick in the drop-down leaves behind.
bool StepRunner::Select(const std::vector<std::wstring>& args)
{
    long line = 0;
    HWND control = args.size() == 2 && ParseId(args[1], line) ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("select <id> <line>: no such control");
    DWORD_PTR result = 0;
    SendMessageTimeoutW(control, CB_SETCURSEL, static_cast<WPARAM>(line), 0, SMTO_ABORTIFHUNG, 3000, &result);
    if (static_cast<LRESULT>(result) != line) return Fail("line " + std::to_string(line) + " cannot be selected");
    return true;
}

// click <id> | click dialog <id>: posted, so a box the click opens blocks nobody.
bool StepRunner::Click(const std::vector<std::wstring>& args)
{
    HWND target = nullptr;
    if (args.size() == 1) {
        target = ControlById(args[0]);
    } else if (args.size() == 2 && args[0] == L"dialog" && m_dialog) {
        long id = 0;
        target = ParseId(args[1], id) ? ChildById(m_dialog, static_cast<int>(id)) : nullptr;
    }
    if (!target) return Fail("click: no such button");
    PostMessageW(target, BM_CLICK, 0, 0);
    return true;
}

bool StepRunner::Close()
{
    PostMessageW(m_main, WM_CLOSE, 0, 0);
    return true;
}

// focus main | focus <id>
bool StepRunner::Focus(const std::vector<std::wstring>& args)
{
    HWND target = args.size() == 1 && args[0] == L"main" ? m_main : args.size() == 1 ? ControlById(args[0]) : nullptr;
    if (!target) return Fail("focus main|<id>: no such window");
    GiveFocus(m_program.UiThreadId(), m_main, target);
    HWND now = nullptr;
    WaitUntil(2000, [&] { return (now = FocusOf(m_program.UiThreadId())) == target; });
    m_out.Line(now == m_main ? "focus main" : now ? "focus " + std::to_string(IdOf(now)) : "focus none");
    return true;
}

// keys <chord>...: to whatever window has the keyboard focus.
bool StepRunner::Keys(const std::vector<std::wstring>& args)
{
    for (const std::wstring& chord : args) {
        std::string error;
        if (!SendChord(chord, error)) return Fail(error);
        Sleep(50);  // one chord is taken in before the next begins
    }
    return true;
}
