// Boxes of the worker threads that only a failed allocation reaches, proven
// with the recording platform's injected failure.
#include "worker_stage.h"
#include "shell/app_state.h"
#include "shell/update_threads.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class WorkerFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetUpWorkerControls();
        g_platform.failAllocation = true;
    }
    void TearDown() override
    {
        DestroyWindow(g_app.optionList);
        DestroyWindow(g_app.updateButton);
        DestroyWindow(g_app.exitButton);
    }

    void AddEntry(int index, const char* name, int32_t size)
    {
        std::strcpy(g_app.catalogue[index].name, name);
        g_app.catalogue[index].size = size;
        if (g_app.catalogueCount <= index) g_app.catalogueCount = index + 1;
    }
};

TEST_F(WorkerFailure, IdentificationWithoutItsBufferShows0301AndEnds)
{
    RunWorker(IdentifyThread);
    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].text, L"錯誤碼: 0301");
    EXPECT_EQ(g_platform.boxes[0].caption, L"執行時錯誤");
    EXPECT_EQ(g_platform.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(g_platform.lastAllocation, 16384u);
    EXPECT_TRUE(g_platform.processEnded);
}

TEST_F(WorkerFailure, UpdateWithoutImageBufferShows0401WithTheEntry)
{
    AddEntry(0, "T0AB1F", 0);
    AddEntry(1, "V0B123", 0);
    AddEntry(2, "C0OP01", 0);
    AddEntry(3, "C0OP02", 70000);
    SendMessageW(g_app.optionList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"a"));
    SendMessageW(g_app.optionList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"b"));
    SendMessageW(g_app.optionList, CB_SETCURSEL, 1, 0);

    RunWorker(UpdateThread);
    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].text, L"錯誤碼: 0401+ 3");
    EXPECT_EQ(g_platform.boxes[0].caption, L"執行時錯誤");
    EXPECT_EQ(g_platform.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(g_platform.lastAllocation, 70000u + 128u);
    EXPECT_TRUE(g_platform.processEnded);
    // The controls were disabled before the first download.
    EXPECT_FALSE(IsWindowEnabled(g_app.updateButton));
    EXPECT_FALSE(IsWindowEnabled(g_app.exitButton));
    EXPECT_FALSE(IsWindowEnabled(g_app.optionList));
}

}  // namespace
