// ProgramImage: the portable programming sequence over the global command
// port, with the update button as its progress display.
#include "shell/program_image.h"

#include "device/hid_cmd.h"
#include "device/program_sequence.h"
#include "shell/app_state.h"

#include <windows.h>

namespace {

void ShowProgress(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    wvsprintfW(g_app.scratchText, format, args);
    va_end(args);
    SetWindowTextW(g_app.updateButton, g_app.scratchText);
}

// The last block has no text of its own in either pass.
class CButtonProgress : public CProgressSink {
public:
    explicit CButtonProgress(char letter) : m_tag(static_cast<unsigned char>(letter)) {}
    void ImageBegun(uint32_t blockCount) override { ShowProgress(L"[ %5d ]", blockCount); }
    void BlockWritten(uint32_t blocksLeft) override { ShowProgress(L"%c - %5d -", m_tag, blocksLeft); }
    void BlockVerified(uint32_t blocksLeft) override { ShowProgress(L"Verify %c - %5d -", m_tag, blocksLeft); }
    void ImageVerified() override { ShowProgress(L"Verify %c Complete!", m_tag); }

private:
    const wchar_t m_tag;
};

}  // namespace

uint32_t ProgramImage(const uint8_t* package, char letter)
{
    CButtonProgress progress(letter);
    return RunProgramSequence(GlobalCommandPort(), package, progress).mismatches;
}
