#pragma once
// Records of accepted releases in the registry, under HKCU\Software\RUVO:
// one string value per model and key set, holding the record's text. The
// window and the command-line updater on Windows share them. A value is
// replaced whole by one call.
#include <mutex>

#include "update/release_history.h"

class CRegistryHistory : public CReleaseHistory {
public:
    HistoryRead Read(const char* name, AcceptedRelease* release) override;
    bool Write(const char* name, const AcceptedRelease& release) override;

private:
    std::mutex m_mutex;
};
