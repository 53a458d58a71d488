#include "shell/signed_release.h"

#include <ctime>

#include "common/never_destroyed.h"
#include "update/release_history_registry.h"
#include "update/release_keys.h"
#include "update/release_signing.h"

ReleaseStatement g_releaseStatement;

// The crypto and the registry are named only inside `if constexpr`, so that
// a build without keys never references them. Never destroyed: a worker may
// still be in them while the process ends.
const CReleaseSigning* ReleaseSigning()
{
    if constexpr (SIGNED_RELEASES) {
        static CNeverDestroyed<CRegistryHistory> history;
        static CNeverDestroyed<CStatementSigning> signing(&g_releaseStatement, &history.Get(), RELEASE_KEYS,
                                                          RELEASE_KEY_COUNT);
        return &signing.Get();
    } else {
        return nullptr;
    }
}

int32_t CheckReleaseStatement(const uint8_t* bytes, uint32_t length, const char* modelId,
                              const CatalogueFacts& catalogue)
{
    if constexpr (SIGNED_RELEASES) {
        const StatementTrust trust = {RELEASE_KEYS, RELEASE_KEY_COUNT, RELEASE_KEY_THRESHOLD, STATEMENT_FORMAT_2,
                                      static_cast<int64_t>(std::time(nullptr))};
        return CheckStatement(bytes, length, trust, modelId, catalogue, &g_releaseStatement);
    } else {
        return STATEMENT_MALFORMED;
    }
}
