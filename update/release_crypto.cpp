// The part of the crypto interface that does not depend on the back end.
#include "update/release_crypto.h"

#include <cstring>

void CSha256::Update(const uint8_t* data, size_t length)
{
    while (m_ok && length > 0) {
        const size_t chunk = length < SHA256_CHUNK ? length : SHA256_CHUNK;
        m_ok = HashChunk(data, chunk);
        data += chunk;
        length -= chunk;
    }
}

bool Sha256(const uint8_t* data, size_t length, uint8_t (&digest)[SHA256_LENGTH])
{
    CSha256 hash;
    hash.Update(data, length);
    return hash.Finish(digest);
}
