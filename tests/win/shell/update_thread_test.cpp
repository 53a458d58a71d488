// The whole update in-process: UpdateThread fetches its images from the
// loopback server on port 80 (the program's fixed base URL) and programs the
// in-process simulated device. The update button's texts are recorded where
// they are set; texts between images last microseconds and no polling driver
// could see them.
#include "button_recorder.h"
#include "worker_stage.h"

#include "device/hid_cmd.h"
#include "shell/app_state.h"
#include "shell/messages.h"
#include "update/package_builder.h"
#include "shell/update_threads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::wstring DOWNLOADING = L"下載更新檔中...";

std::vector<uint8_t> Firmware(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * seed + (i >> 8));
    return bytes;
}

class UpdateThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetUpWorkerControls(m_button.Handle());
        ConnectSimulatedDevice(L"update", m_sim);
    }

    // Publishes an image package under `stem` (characters 2-5: its id) and
    // this process's id, and makes it catalogue entry `index`. The tests run
    // in parallel processes on one server, each publishing its own sizes.
    void Publish(int index, const char* stem, uint32_t firstBlock, size_t firmwareSize)
    {
        const std::string fileName = std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + ".bin";
        const char* name = fileName.c_str();
        std::vector<uint8_t> package;
        std::string error;
        ASSERT_TRUE(BuildImagePackage(std::string(name + 2, 4).c_str(), firstBlock,
                                      Firmware(firmwareSize, static_cast<uint8_t>(index + 3)), &package, &error))
            << error;
        const std::string path = std::string(UPDATE_TEST_POOL) + "\\" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        std::fwrite(package.data(), 1, package.size(), file);
        std::fclose(file);
        std::strcpy(g_app.catalogue[index].name, name);
        g_app.catalogue[index].size = static_cast<int32_t>(package.size());
        if (g_app.catalogueCount <= index) g_app.catalogueCount = index + 1;
        if (index >= 2) SendMessageW(g_app.optionList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"line"));
    }

    ButtonRecorder m_button;
    std::unique_ptr<SimDevice> m_sim;
};

size_t g_logLinesAtBox;
bool g_deviceToldWhileBoxUp;
SimDevice* g_sim;

// The completion box stays up a while, as it does for a user reading it:
// nothing may reach the device meanwhile. Everything before the box was
// answered by the device, so its log is complete when the box appears; the
// finish command, which gets no answer, would be logged within milliseconds.
void HoldTheCompletionBox()
{
    g_logLinesAtBox = g_sim->Log().size();
    g_deviceToldWhileBoxUp = g_sim->WaitForLogLines(g_logLinesAtBox + 1, 300);
}

TEST_F(UpdateThreadTest, ProgressTextsOfAWholeUpdateInTheirOrder)
{
    Publish(0, "BTU122", 0, 4096 + 512);  // one full block, 2 tail pages
    Publish(1, "BVUABD", 16, 1000);       // tail only
    Publish(2, "OPU0TW", 64, 300);
    Publish(3, "OPU0HK", 64, 8192 + 256);  // two full blocks, 1 tail page
    SendMessageW(g_app.optionList, CB_SETCURSEL, 1, 0);
    g_sim = m_sim.get();
    g_platform.onBox = HoldTheCompletionBox;

    RunWorker(UpdateThread);

    const std::vector<std::wstring> expected = {
        DOWNLOADING,           L"[     2 ]",          L"T -     1 -",        L"Verify T -     1 -",
        L"Verify T Complete!", DOWNLOADING,           L"[     1 ]",          L"Verify V Complete!",
        DOWNLOADING,           L"[     3 ]",          L"C -     2 -",        L"C -     1 -",
        L"Verify C -     2 -", L"Verify C -     1 -", L"Verify C Complete!", L"- 更 新 完 成 -",
    };
    EXPECT_EQ(m_button.Texts(), expected);

    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].text, TEXT_UPDATE_DONE_BOX);
    EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_UPDATE_DONE);
    EXPECT_EQ(g_platform.boxes[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_FALSE(g_platform.processEnded);

    // The finish command follows the closed box, and the exit button is back.
    EXPECT_FALSE(g_deviceToldWhileBoxUp) << "the device was told to finish while the completion box was up";
    ASSERT_TRUE(m_sim->WaitForLogLines(g_logLinesAtBox + 1));
    const std::vector<std::string> log = m_sim->Log();
    EXPECT_EQ(log.size(), g_logLinesAtBox + 1);
    EXPECT_EQ(log.back(), "TEST FCB19055 FCB19055");
    EXPECT_TRUE(IsWindowEnabled(g_app.exitButton));
    EXPECT_FALSE(IsWindowEnabled(g_app.updateButton));
    EXPECT_FALSE(IsWindowEnabled(g_app.optionList));
}

TEST_F(UpdateThreadTest, NoSelectionProgramsTheBaseImagesOnly)
{
    Publish(0, "BTU122", 0, 700);
    Publish(1, "BVUABD", 16, 700);
    Publish(2, "OPU0TW", 64, 700);
    SendMessageW(g_app.optionList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);

    RunWorker(UpdateThread);

    int images = 0;
    for (const std::string& line : m_sim->Log()) images += line.rfind("TEST C5B484A1", 0) == 0;
    EXPECT_EQ(images, 2);
    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_UPDATE_DONE);
}

// The image buffer holds the catalogue's size and 128 bytes more. A package
// up to 128 bytes longer than announced is programmed; one byte more is too
// large for the buffer, and its refused download (-1) fails the check.
struct SlackCase {
    const char* name;
    int32_t packageLessAnnounced;
    bool programmed;
};

void PrintTo(const SlackCase& c, std::ostream* out)
{
    *out << c.name;
}

class ImageBufferSlack : public UpdateThreadTest, public ::testing::WithParamInterface<SlackCase> {};

TEST_P(ImageBufferSlack, PackageUpTo128BytesOverItsAnnouncedSizeIsProgrammed)
{
    // Longer than one read, so the header has arrived when the rest is
    // refused: the check then fails on the length (-3).
    Publish(0, "BTU122", 0, 20000);
    g_app.catalogue[0].size -= GetParam().packageLessAnnounced;

    RunWorker(UpdateThread);

    std::vector<std::wstring> boxes;
    for (const RecordedBox& box : g_platform.boxes) boxes.push_back(box.text);
    int images = 0;
    for (const std::string& line : m_sim->Log()) images += line.rfind("TEST C5B484A1", 0) == 0;
    if (GetParam().programmed) {
        EXPECT_EQ(boxes, std::vector<std::wstring>{TEXT_UPDATE_DONE_BOX});
        EXPECT_EQ(images, 1);
    } else {
        EXPECT_EQ(boxes, (std::vector<std::wstring>{TEXT_FILE_TOO_LARGE, L"錯誤碼: 0402 -3"}));
        EXPECT_TRUE(g_platform.processEnded);
        EXPECT_EQ(images, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageBufferSlack,
                         ::testing::Values(SlackCase{"Over128", 128, true}, SlackCase{"Over129", 129, false}),
                         [](const ::testing::TestParamInfo<SlackCase>& info) { return std::string(info.param.name); });

}  // namespace
