#include "cli/release_history_default.h"

#include "update/release_history_folder.h"

std::unique_ptr<CReleaseHistory> DefaultReleaseHistory(std::string& place)
{
    std::string folder = DefaultHistoryFolder();
    // Without a home there is no record to keep: every read fails, clearly.
    place = folder.empty() ? "no folder (neither XDG_STATE_HOME nor HOME is set)" : folder;
    return std::make_unique<CFolderHistory>(std::move(folder));
}
