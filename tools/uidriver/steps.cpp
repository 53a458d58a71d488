// The step runner: dispatch of each step to its verb, what the steps share,
// and the steps on the program's process (start, exit, screenshots). The
// steps on controls are in control_steps.cpp, on dialogs in dialog_steps.cpp.
#include "tools/uidriver/steps.h"

#include "tools/common/numbers.h"
#include "tools/uidriver/screenshot.h"
#include "tools/uidriver/window_reader.h"

// How long the first start may take: Wine maps a new exe in well under a
// second, but a cold prefix on a busy machine takes longer.
constexpr DWORD START_TIMEOUT_MS = 30000;

bool StepRunner::ParseInt(const std::wstring& word, int64_t min, int64_t max, long& value)
{
    int64_t parsed = 0;
    if (!ParseInteger(word, min, max, parsed)) return false;
    value = static_cast<long>(parsed);
    return true;
}

bool StepRunner::ParseId(const std::wstring& word, long& value)
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
        if (args.size() != 1 || !ParseInt(args[0], 0, MAX_WAIT_MS, ms)) return Fail("sleep takes milliseconds");
        Sleep(static_cast<DWORD>(ms));
        return true;
    }
    if (!Started()) return Fail("the program is not started");
    if (verb == L"window") return Window(Geometry::SHOWN);
    if (verb == L"controls") return Controls(Geometry::SHOWN);
    if (verb == L"control") return Control(args, Geometry::SHOWN);
    if (verb == L"window-state") return Window(Geometry::LEFT_OUT);
    if (verb == L"states") return Controls(Geometry::LEFT_OUT);
    if (verb == L"state") return Control(args, Geometry::LEFT_OUT);
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
    if (!SaveScreenPng(AreaOf(m_program.Windows()), path, error)) {
        Diagnostic("screenshot: " + Utf8(path) + ": " + error);
    }
    return true;
}
