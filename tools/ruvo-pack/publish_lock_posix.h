#pragma once
// The one publish or rollback at work in a server folder.
// Part of ruvo-pack's release store (release_store.h): POSIX only, for the
// symbolic links, rename over a link and file locks a live release needs.
#include <string>

// Holds OUTDIR/.lock for the lifetime of the object.
class CPublishLock {
public:
    CPublishLock() = default;
    CPublishLock(const CPublishLock&) = delete;
    CPublishLock& operator=(const CPublishLock&) = delete;
    ~CPublishLock();
    // A PackExitCode: PACK_EXIT_LOCKED when another publish holds it.
    int Acquire(const std::string& path, std::string* error);

private:
    int m_fd = -1;
};
