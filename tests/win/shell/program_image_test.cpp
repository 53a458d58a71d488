// ProgramImage against the in-process simulated device: the order of the
// device commands, the progress texts on the update button, the flash after
// it, and the mismatch count when the device lies or stops answering.
#include "tests/support/image_layout.h"
#include "button_recorder.h"
#include "recording_platform.h"
#include "sim_fixture.h"

#include "device/hid_cmd.h"
#include "shell/program_image.h"
#include "shell/app_state.h"
#include "update/package_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A checked image package: header, (last - first) blocks, tail pages.
std::vector<uint8_t> MakePackage(const Layout& layout)
{
    std::vector<uint8_t> package = PlainImagePackage(layout);
    SealPackage(PACKAGE_IMAGE, package, "IMG1");
    EXPECT_EQ(CheckPackage(PACKAGE_IMAGE, package.data(), package.size(), "IMG1", package.size()), PACKAGE_OK);
    return package;
}

// Each test is a process of its own (the program connects once per process).
class ProgramImageTest : public ::testing::Test {
protected:
    void Connect(const SimulatorOptions& options = SimulatorOptions())
    {
        ASSERT_TRUE(FakesLoaded());
        m_sim = std::make_unique<SimDevice>(UniquePipe(L"program"), options);
        ASSERT_TRUE(m_sim->Start());
        SetFakeDevices(Entry(m_sim->path, L"0416:F362"));
        ASSERT_EQ(::Connect(), 1);
        g_app.updateButton = m_button.Handle();
    }

    // Runs ProgramImage on a worker thread, as the update does.
    uint32_t Program(const std::vector<uint8_t>& package, char letter)
    {
        static const std::vector<uint8_t>* s_package;
        static char s_letter;
        static uint32_t s_result;
        s_package = &package;
        s_letter = letter;
        RunWorker([](LPVOID) -> DWORD {
            s_result = ProgramImage(s_package->data(), s_letter);
            return 0;
        });
        return s_result;
    }

    bool FlashHolds(const Layout& layout)
    {
        const size_t data = size_t(layout.last - layout.first) * FLASH_BLOCK_SIZE + layout.tail * FLASH_PAGE_SIZE;
        const uint8_t* flash = m_sim->device.Flash() + size_t(layout.first) * FLASH_BLOCK_SIZE;
        for (size_t i = 0; i < data; ++i)
            if (flash[i] != ImageByte(i)) return false;
        // The rest of the last block stays erased.
        for (size_t i = data; i < size_t(layout.last - layout.first + 1) * FLASH_BLOCK_SIZE; ++i)
            if (flash[i] != 0xFF) return false;
        return true;
    }

    ButtonRecorder m_button;
    std::unique_ptr<SimDevice> m_sim;
};

TEST_F(ProgramImageTest, TwoBlocksAndTailInTheirOrder)
{
    Connect();
    const Layout layout{7, 9, 3};
    EXPECT_EQ(Program(MakePackage(layout), 'C'), 0u);

    ASSERT_TRUE(m_sim->WaitForLogLines(10));
    const std::vector<std::string> expected = {
        "TEST C5B484A1 00000003",
        "ERASE 7",
        "WRITE 112 16",
        "ERASE 8",
        "WRITE 128 16",
        "ERASE 9",
        "WRITE 144 3",
        "READ 112 16",
        "READ 128 16",
        "READ 144 3",
    };
    EXPECT_EQ(m_sim->Log(), expected);
    EXPECT_EQ(m_button.Texts(),
              (std::vector<std::wstring>{L"[     3 ]", L"C -     2 -", L"C -     1 -", L"Verify C -     2 -",
                                         L"Verify C -     1 -", L"Verify C Complete!"}));
    EXPECT_TRUE(FlashHolds(layout));
}

TEST_F(ProgramImageTest, WithoutTailTheLastBlockIsErasedAndLeftSo)
{
    Connect();
    // Make block 5 dirty first: the image must leave it erased.
    std::memset(m_sim->device.Flash() + 5 * FLASH_BLOCK_SIZE, 0x00, FLASH_BLOCK_SIZE);
    const Layout layout{4, 5, 0};
    EXPECT_EQ(Program(MakePackage(layout), 'T'), 0u);

    ASSERT_TRUE(m_sim->WaitForLogLines(7));
    const std::vector<std::string> expected = {
        "TEST C5B484A1 00000002", "ERASE 4", "WRITE 64 16", "ERASE 5", "WRITE 80 0", "READ 64 16", "READ 80 0"};
    EXPECT_EQ(m_sim->Log(), expected);
    EXPECT_EQ(m_button.Texts(),
              (std::vector<std::wstring>{L"[     2 ]", L"T -     1 -", L"Verify T -     1 -", L"Verify T Complete!"}));
    EXPECT_TRUE(FlashHolds(layout));
}

TEST_F(ProgramImageTest, SingleBlockImageHasNoPerBlockTexts)
{
    Connect();
    const Layout layout{20, 20, 16};
    EXPECT_EQ(Program(MakePackage(layout), 'V'), 0u);

    ASSERT_TRUE(m_sim->WaitForLogLines(4));
    const std::vector<std::string> expected = {"TEST C5B484A1 00000001", "ERASE 20", "WRITE 320 16", "READ 320 16"};
    EXPECT_EQ(m_sim->Log(), expected);
    EXPECT_EQ(m_button.Texts(), (std::vector<std::wstring>{L"[     1 ]", L"Verify V Complete!"}));
    EXPECT_TRUE(FlashHolds(layout));
}

// Bytes the device reads back inverted are counted one by one.
struct CorruptionCase {
    const char* name;
    uint32_t offset;  // in flash
    uint32_t length;
    uint32_t mismatches;
};

void PrintTo(const CorruptionCase& c, std::ostream* out)
{
    *out << c.name;
}

class CorruptedReadBack : public ProgramImageTest, public ::testing::WithParamInterface<CorruptionCase> {};

TEST_P(CorruptedReadBack, EveryDifferingByteIsCounted)
{
    SimulatorOptions options;
    options.corruptReadBack = true;
    options.corruptOffset = GetParam().offset;
    options.corruptLength = GetParam().length;
    Connect(options);
    EXPECT_EQ(Program(MakePackage({3, 4, 2}), 'C'), GetParam().mismatches);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CorruptedReadBack,
    ::testing::Values(CorruptionCase{"OneByte", 3 * FLASH_BLOCK_SIZE + 100, 1, 1},
                      CorruptionCase{"WholeBlock", 3 * FLASH_BLOCK_SIZE, FLASH_BLOCK_SIZE, FLASH_BLOCK_SIZE}),
    [](const ::testing::TestParamInfo<CorruptionCase>& info) { return std::string(info.param.name); });

TEST_F(ProgramImageTest, DeviceThatStopsAnsweringCountsWhatNeverArrived)
{
    // Programming takes 1 + 1 + (1 + 64) + 1 + (1 + 8) = 77 reports; the read
    // of block 3 gets its command and 10 data reports, then silence.
    SimulatorOptions options;
    options.stopAnsweringAfter = 77 + 1 + 10;
    Connect(options);
    g_hidCmd.m_io.SetTransferBound(300);

    const ULONGLONG start = GetTickCount64();
    const uint32_t mismatches = Program(MakePackage({3, 4, 2}), 'C');
    const ULONGLONG elapsed = GetTickCount64() - start;

    // 54 reports of block 3 and the whole tail never arrived.
    EXPECT_EQ(mismatches, 54u * 64 + 2 * FLASH_PAGE_SIZE);
    EXPECT_TRUE(g_hidCmd.m_io.DeviceGone());
    // One abandoned transfer, not one bound per remaining command.
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(m_button.Texts().back(), L"Verify C Complete!");
}

}  // namespace
