#include "shell/signed_release.h"

#include "update/release_keys.h"
#include "update/release_signing.h"

ReleaseStatement g_releaseStatement;

// The crypto is named only inside `if constexpr`, so that a build without
// keys never references it.
const CReleaseSigning* ReleaseSigning()
{
    if constexpr (SIGNED_RELEASES) {
        static const CStatementSigning signing(&g_releaseStatement);
        return &signing;
    } else {
        return nullptr;
    }
}

int32_t CheckReleaseStatement(const uint8_t* bytes, uint32_t length, const char* modelId,
                              const CatalogueFacts& catalogue)
{
    if constexpr (SIGNED_RELEASES) {
        return CheckStatement(bytes, length, RELEASE_KEYS, RELEASE_KEY_COUNT, modelId, catalogue, &g_releaseStatement);
    } else {
        return STATEMENT_MALFORMED;
    }
}
