// ruvo-driver: starts a GUI program under test, drives it by a step script
// the way a user would (window, controls, keys, boxes) and writes a UTF-8
// transcript of what it saw. Usage and step language: README.md.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/common/numbers.h"
#include "tools/uidriver/script.h"
#include "tools/uidriver/steps.h"
#include "tools/uidriver/text.h"

static const char USAGE[] =
    "usage: ruvo-driver --program <exe> [--env NAME=VALUE]... [--program-output <file>] [--out <transcript>]\n"
    "                   [--screenshots <unix folder>] [--timeout <seconds>]\n"
    "                   (<script file> | --step \"<step>\"...)\n";

static bool ReadFileBytes(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

int wmain(int argc, wchar_t** argv)
{
    DriverOptions options;
    std::wstring scriptFile, outFile;
    std::string inlineSteps;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--program" && hasValue) {
            options.program = argv[++i];
        } else if (arg == L"--program-output" && hasValue) {
            options.programOutput = argv[++i];
        } else if (arg == L"--env" && hasValue) {
            options.environment.push_back(argv[++i]);
        } else if (arg == L"--out" && hasValue) {
            outFile = argv[++i];
        } else if (arg == L"--screenshots" && hasValue) {
            options.screenshotFolder = Utf8(argv[++i]);
        } else if (arg == L"--timeout" && hasValue) {
            int64_t seconds = 0;
            if (!ParseInteger(argv[++i], 1, MAX_WAIT_SECONDS, seconds)) {
                Diagnostic("--timeout takes whole seconds from 1 to " + std::to_string(MAX_WAIT_SECONDS) + ", not " +
                           Utf8(argv[i]));
                Diagnostic(USAGE);
                return 2;
            }
            options.timeoutMs = static_cast<DWORD>(seconds) * 1000;
        } else if (arg == L"--step" && hasValue) {
            inlineSteps += Utf8(argv[++i]) + "\n";
        } else if (arg.compare(0, 2, L"--") != 0 && scriptFile.empty()) {
            scriptFile = arg;
        } else {
            Diagnostic("cannot use argument " + Utf8(arg));
            Diagnostic(USAGE);
            return 2;
        }
    }
    if (options.program.empty() || scriptFile.empty() == inlineSteps.empty()) {
        Diagnostic(USAGE);
        return 2;
    }

    std::string script = inlineSteps;
    if (!scriptFile.empty() && !ReadFileBytes(scriptFile, script)) {
        Diagnostic("cannot read " + Utf8(scriptFile));
        return 2;
    }
    std::vector<Step> steps;
    std::string error;
    if (!ParseScript(script, steps, error)) {
        Diagnostic(error);
        return 2;
    }
    // A script without steps would pass while checking nothing.
    if (steps.empty()) {
        Diagnostic("the script has no steps");
        return 2;
    }

    Transcript transcript;
    if (!outFile.empty() && !transcript.OpenFile(outFile)) {
        Diagnostic("cannot write " + Utf8(outFile));
        return 2;
    }
    StepRunner runner(options, transcript);
    const bool passed = runner.Run(steps);
    if (transcript.Lost()) {
        return 3;
    }
    return passed ? 0 : 1;
}
