#pragma once
// Records of accepted releases kept in memory, with failures to order: the
// store behind the tests of the release core and of ruvo-flash's sessions.
#include <map>
#include <mutex>
#include <string>

#include "update/release_history.h"

class CMemoryHistory : public CReleaseHistory {
public:
    std::map<std::string, AcceptedRelease> records;
    bool readFails = false, writeFails = false;
    int writes = 0;

    HistoryRead Read(const char* name, AcceptedRelease* release) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (readFails) return HistoryRead::UNREADABLE;
        const auto found = records.find(name);
        if (found == records.end()) return HistoryRead::NONE;
        *release = found->second;
        return HistoryRead::FOUND;
    }
    bool Write(const char* name, const AcceptedRelease& release) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (writeFails) return false;
        ++writes;
        records[name] = release;
        return true;
    }

private:
    std::mutex m_mutex;
};
