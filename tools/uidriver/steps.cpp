#include "tools/uidriver/steps.h"

#include "tools/common/numbers.h"
#include "tools/uidriver/dialog_geometry.h"
#include "tools/uidriver/input.h"
#include "tools/uidriver/pattern.h"
#include "tools/uidriver/screenshot.h"
#include "tools/uidriver/window_reader.h"

// How long the first start may take: Wine maps a new exe in well under a
// second, but a cold prefix on a busy machine takes longer.
constexpr DWORD START_TIMEOUT_MS = 30000;

// The longest pause, watch or quiet spell a step may ask for, in milliseconds.
constexpr int64_t MAX_MS = MAX_WAIT_SECONDS * 1000;

// A whole decimal number of a step (an id, a line, milliseconds) within its range.
static bool ParseInt(const std::wstring& word, int64_t min, int64_t max, long& value)
{
    int64_t parsed = 0;
    if (!ParseInteger(word, min, max, parsed)) return false;
    value = static_cast<long>(parsed);
    return true;
}

static bool ParseId(const std::wstring& word, long& value)
{
    return ParseInt(word, INT32_MIN, INT32_MAX, value);
}

// The step as a normalised line: words that need it are quoted.
static std::string Echo(const std::vector<std::wstring>& words)
{
    std::string line = ">";
    for (const std::wstring& word : words) {
        const bool plain = !word.empty() && word.find_first_of(L" \t\"\\#\n\r") == std::wstring::npos;
        line += " " + (plain ? Utf8(word) : Quote(word));
    }
    return line;
}

StepRunner::StepRunner(const DriverOptions& options, Transcript& transcript)
    : m_options(options), m_out(transcript), m_main(nullptr), m_dialog(nullptr)
{
}

bool StepRunner::Run(const std::vector<Step>& steps)
{
    bool ok = true;
    for (const Step& step : steps) {
        m_out.Line(Echo(step.words));
        if (!Do(step.words)) {
            ok = false;
            break;
        }
    }
    if (m_program.Running()) {
        m_out.Line("still running; terminated");
        m_program.Terminate();
    }
    return ok;
}

bool StepRunner::Fail(const std::string& reason)
{
    m_out.Line("FAILED: " + reason);
    return false;
}

bool StepRunner::Do(const std::vector<std::wstring>& words)
{
    const std::wstring& verb = words[0];
    const std::vector<std::wstring> args(words.begin() + 1, words.end());
    if (verb == L"start") return Start(args);
    if (verb == L"sleep") {
        long ms = 0;
        if (args.size() != 1 || !ParseInt(args[0], 0, MAX_MS, ms)) return Fail("sleep takes milliseconds");
        Sleep(static_cast<DWORD>(ms));
        return true;
    }
    if (!Started()) return Fail("the program is not started");
    if (verb == L"window") return Window();
    if (verb == L"controls") return Controls();
    if (verb == L"control") return Control(args);
    if (verb == L"text") return Text(args);
    if (verb == L"wait-text") return WaitText(args, false);
    if (verb == L"wait-match") return WaitText(args, true);
    if (verb == L"wait-change") return WaitChange(args);
    if (verb == L"watch") return Watch(args);
    if (verb == L"wait-enabled") return WaitEnabled(args, true);
    if (verb == L"wait-disabled") return WaitEnabled(args, false);
    if (verb == L"list") return List(args);
    if (verb == L"wait-lines") return WaitLines(args);
    if (verb == L"select") return Select(args);
    if (verb == L"click") return Click(args);
    if (verb == L"close") return Close();
    if (verb == L"focus") return Focus(args);
    if (verb == L"keys") return Keys(args);
    if (verb == L"wait-dialog") return WaitDialog(args);
    if (verb == L"wait-box") return WaitBox(args);
    if (verb == L"close-box") return CloseBox();
    if (verb == L"no-dialog") return NoDialog(args);
    if (verb == L"wait-closed") return WaitClosed(args);
    if (verb == L"wait-exit") return WaitExit(args);
    if (verb == L"screenshot") return Screenshot(args);
    return Fail("unknown step " + Utf8(verb));
}

bool StepRunner::Started()
{
    return m_main != nullptr;
}

bool StepRunner::Timeout(const std::vector<std::wstring>& args, size_t index, DWORD& ms)
{
    ms = m_options.timeoutMs;
    if (index >= args.size()) return true;
    long seconds = 0;
    if (!ParseInt(args[index], 1, MAX_WAIT_SECONDS, seconds)) {
        return Fail("a wait takes whole seconds from 1 to " + std::to_string(MAX_WAIT_SECONDS) + ", not " +
                    Utf8(args[index]));
    }
    ms = static_cast<DWORD>(seconds) * 1000;
    return true;
}

HWND StepRunner::ControlById(const std::wstring& word)
{
    long id = 0;
    if (!ParseId(word, id)) {
        return nullptr;
    }
    return ChildById(m_main, static_cast<int>(id));
}

void StepRunner::PrintText(int id, const std::wstring& text)
{
    m_out.Line("text " + std::to_string(id) + " " + Quote(text));
    m_lastText[id] = text;
}

std::string StepRunner::OwnerName(HWND window)
{
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner == m_main) {
        return "main";
    }
    return owner ? "other" : "none";
}

// start <class> [<child id>...] [show=<n>]
bool StepRunner::Start(const std::vector<std::wstring>& args)
{
    if (m_main) return Fail("already started");
    if (args.empty()) return Fail("start needs the window class");
    int show = -1;
    std::vector<int> ids;
    for (size_t i = 1; i < args.size(); ++i) {
        long value = 0;
        if (args[i].compare(0, 5, L"show=") == 0 && ParseInt(args[i].substr(5), 0, INT32_MAX, value)) {
            show = static_cast<int>(value);
        } else if (ParseId(args[i], value)) {
            ids.push_back(static_cast<int>(value));
        } else {
            return Fail("start: cannot read " + Utf8(args[i]));
        }
    }
    std::string error;
    if (!m_program.Start(m_options.program, m_options.environment, m_options.programOutput, show, error))
        return Fail(error);
    Diagnostic("started process " + std::to_string(m_program.ProcessId()));
    m_icons = LoadIconCandidates(m_options.program);

    // The window is findable before its children exist and before it shows.
    const bool ready = WaitUntil(START_TIMEOUT_MS, [&] {
        HWND window = m_program.FindWindowOfClass(args[0]);
        if (!window) return !m_program.Running();
        for (int id : ids) {
            if (!ChildById(window, id)) return false;
        }
        m_main = window;
        return true;
    });
    if (!ready || !m_main) {
        DWORD code = 0;
        if (m_program.WaitExit(0, code)) return Fail("the program ended with code " + std::to_string(code));
        return Fail("no visible window of class " + Utf8(args[0]) + " with the expected controls");
    }
    m_out.Line("started");
    return true;
}

bool StepRunner::Window()
{
    RECT desktop;
    GetClientRect(GetDesktopWindow(), &desktop);
    m_out.Line("desktop size=" + std::to_string(desktop.right - desktop.left) + "x" +
               std::to_string(desktop.bottom - desktop.top));
    std::string line =
        "window class=" + Quote(ClassOf(m_main)) + " title=" + Quote(TextOf(m_main)) + " style=" + StyleNames(m_main);
    const std::string ex = ExStyleNames(m_main);
    if (!ex.empty()) line += " exstyle=" + ex;
    line += " " + AtSize(RectIn(m_main, nullptr));
    line += IsWindowEnabled(m_main) ? " enabled" : " disabled";
    m_out.Line(line);
    return true;
}

bool StepRunner::Controls()
{
    for (HWND child : ChildrenOf(m_main)) {
        m_out.Line("control " + DescribeControl(child, m_main));
        m_lastText[IdOf(child)] = TextOf(child);
    }
    return true;
}

bool StepRunner::Control(const std::vector<std::wstring>& args)
{
    HWND control = args.size() == 1 ? ControlById(args[0]) : nullptr;
    if (!control) return Fail("control <id>: no such control");
    m_out.Line("control " + DescribeControl(control, m_main));
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
    HWND control = args.size() == 2 && ParseInt(args[1], 0, MAX_MS, ms) ? ControlById(args[0]) : nullptr;
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
    if (args.size() != 1 || !ParseInt(args[0], 0, MAX_MS, ms)) return Fail("no-dialog <ms>");
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

bool StepRunner::WaitExit(const std::vector<std::wstring>& args)
{
    DWORD timeout = 0;
    if (!Timeout(args, 0, timeout)) return false;
    DWORD code = 0;
    if (!m_program.WaitExit(timeout, code)) return Fail("the program still runs");
    m_out.Line("exit code=" + std::to_string(code));
    return true;
}

// screenshot <name>: <folder>/<name>.png of the program's windows as the
// screen shows them, only when a folder was given; the transcript is the
// same either way, and a screenshot that cannot be written is a diagnostic.
bool StepRunner::Screenshot(const std::vector<std::wstring>& args)
{
    if (args.size() != 1) return Fail("screenshot <name>");
    if (m_options.screenshotFolder.empty()) return true;
    Sleep(300);  // let the last change paint
    std::wstring path = L"Z:" + Wide(m_options.screenshotFolder) + L"/" + args[0] + L".png";
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    std::string error;
    if (!SaveScreenPng(ProgramArea(m_program.ProcessId()), path, error)) {
        Diagnostic("screenshot: " + Utf8(path) + ": " + error);
    }
    return true;
}
