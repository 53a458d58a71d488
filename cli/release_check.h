#pragma once
// The seam for signed releases. When the build has compiled-in keys or
// --key is given, the session hands the check the catalogue (hashed as
// downloaded, after the package check accepted it) and every image download
// (before the package check decodes it, and before any erase); without a
// check the release is taken as the window takes an unsigned one. No option
// skips a check that is configured.
#include <cstdint>
#include <string>

#include "update/release_statement.h"

class CDownloader;

struct ReleaseVerdict {
    int exitCode = 0;  // 0 accepted; otherwise the exit code of the refusal or failure
    std::string code;  // the window's code, e.g. "0303 -2" or "0404+ 1"
    std::string text;
};

class CReleaseCheck {
public:
    virtual ~CReleaseCheck() = default;
    // Fetches Door/<model>.Sig under `baseUrl` through `downloader` and
    // checks it against the trusted keys and `catalogue`.
    virtual ReleaseVerdict CheckCatalogue(CDownloader& downloader, const std::string& baseUrl, const char* modelId,
                                          const CatalogueFacts& catalogue) = 0;
    // The download of catalogue entry `entry` must be the very file the
    // model's accepted statement names for it.
    virtual ReleaseVerdict CheckImage(const char* modelId, int32_t entry, const std::string& name,
                                      const uint8_t* package, uint32_t length) = 0;
};
