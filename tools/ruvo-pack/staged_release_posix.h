#pragma once
// A release staged beside the live one, and the migration of a Door folder
// of the layout before releases into a release of its own.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <ostream>
#include <set>
#include <string>

#include "tools/ruvo-pack/server_folder_posix.h"

class CStagedRelease {
public:
    explicit CStagedRelease(const Store& store) : m_store(store) {}
    CStagedRelease(const CStagedRelease&) = delete;
    CStagedRelease& operator=(const CStagedRelease&) = delete;
    ~CStagedRelease();

    // A private folder under releases/ with an empty Door, readable by the
    // web server.
    bool Create(std::string* error);
    std::string Door() const;
    std::string Path() const { return m_path; }

    // Copies the files of the Door `from` except those named in `skip`. A
    // Door holds regular files only: anything else (a link, a folder, a FIFO)
    // is refused rather than copied or silently dropped, and no link is
    // followed, the folder itself included: a copy of what a link points to
    // would be served to everyone.
    bool CopyFrom(const std::string& from, const std::set<std::string>& skip, std::string* error);

    // release.txt; `content`: the release whose catalogues this one serves again (0: its own).
    bool WriteInfo(const std::string& note, unsigned content, std::string* error) const;

    // Renames the staged folder to releases/<serial>.
    bool Commit(unsigned serial, std::string* error);

private:
    const Store& m_store;
    std::string m_path;  // removed again unless committed
};

// BRELM/Door as a folder (the layout before releases): its files become a
// release of their own, which then goes live in one exchange, so a rollback
// can return to them. An empty folder is simply removed.
int MigrateDoorFolder(const Store& store, unsigned serial, std::ostream& out, std::string* error);
