// The folder store of accepted releases: records read back, a damaged or
// unreachable store is an error and never an empty history, and a write
// leaves nothing but the record behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/history_store_checks.h"
#include "update/release_history_folder.h"

namespace {

namespace fs = std::filesystem;

struct ScratchFolder {
    fs::path path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/ruvo-history-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchFolder() { fs::remove_all(path); }
};

TEST(FolderHistory, MakesItsFolderAndReadsRecordsBack)
{
    ScratchFolder scratch;
    CFolderHistory history((scratch.path / "state" / "ruvo-flash").string());
    ExpectLaterWriteReadsBack(history, "R100.0011223344556677", 3);
    // Only the record: no scratch file left beside it.
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(scratch.path / "state" / "ruvo-flash")) {
        EXPECT_EQ(entry.path().filename(), "R100.0011223344556677");
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST(FolderHistory, ADamagedOrUnreachableStoreIsAnError)
{
    ScratchFolder scratch;
    CFolderHistory history(scratch.path.string());
    AcceptedRelease got{};
    std::ofstream(scratch.path / "R100.x") << "12 not a digest\n";
    EXPECT_EQ(history.Read("R100.x", &got), HistoryRead::UNREADABLE);
    std::ofstream(scratch.path / "R100.y") << "";
    EXPECT_EQ(history.Read("R100.y", &got), HistoryRead::UNREADABLE);

    // A file where the folder should be: nothing can be read or written.
    std::ofstream(scratch.path / "plain") << "x";
    CFolderHistory blocked((scratch.path / "plain").string());
    EXPECT_EQ(blocked.Read("R100.x", &got), HistoryRead::UNREADABLE);
    EXPECT_FALSE(blocked.Write("R100.x", ReleaseWithSerial(1)));

    CFolderHistory nowhere("");
    EXPECT_EQ(nowhere.Read("R100.x", &got), HistoryRead::UNREADABLE);
    EXPECT_FALSE(nowhere.Write("R100.x", ReleaseWithSerial(1)));
}

TEST(FolderHistory, TheDefaultFolderFollowsTheUsersStateFolder)
{
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string savedState = state ? state : "", savedHome = home ? home : "";
    setenv("XDG_STATE_HOME", "/s", 1);
    setenv("HOME", "/h", 1);
    EXPECT_EQ(DefaultHistoryFolder(), "/s/ruvo-flash");
    setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored, as the convention says
    EXPECT_EQ(DefaultHistoryFolder(), "/h/.local/state/ruvo-flash");
    unsetenv("XDG_STATE_HOME");
    unsetenv("HOME");
    EXPECT_EQ(DefaultHistoryFolder(), "");
    if (state) setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    if (home) setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
