#pragma once
// Records of accepted releases as files in a folder, one per model and key
// set, each replaced whole (written beside, flushed, renamed over). The
// command-line updater's store on Linux, and with --state on any system.
#include <mutex>
#include <string>

#include "update/release_history.h"

class CFolderHistory : public CReleaseHistory {
public:
    explicit CFolderHistory(std::string folder) : m_folder(std::move(folder)) {}
    HistoryRead Read(const char* name, AcceptedRelease* release) override;
    bool Write(const char* name, const AcceptedRelease& release) override;
    const std::string& Folder() const { return m_folder; }

private:
    std::mutex m_mutex;
    std::string m_folder;
};

// $XDG_STATE_HOME/ruvo-flash, else $HOME/.local/state/ruvo-flash; empty
// when neither variable is set to an absolute path.
std::string DefaultHistoryFolder();
