// Windows CNG back end of the crypto interface: the system's own bcrypt.dll,
// so RUVO.exe carries no cryptography of its own.
#include "update/release_crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <new>

namespace {

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

struct CngHash {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

}  // namespace

CSha256::CSha256() : m_state(nullptr), m_ok(false)
{
    CngHash* cng = new (std::nothrow) CngHash;
    if (!cng) return;
    m_state = cng;
    // With no object buffer given, CNG keeps the hash object itself (Windows 7 on).
    m_ok = Succeeded(BCryptOpenAlgorithmProvider(&cng->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
           Succeeded(BCryptCreateHash(cng->algorithm, &cng->hash, nullptr, 0, nullptr, 0, 0));
}

CSha256::~CSha256()
{
    CngHash* cng = static_cast<CngHash*>(m_state);
    if (!cng) return;
    if (cng->hash) BCryptDestroyHash(cng->hash);
    if (cng->algorithm) BCryptCloseAlgorithmProvider(cng->algorithm, 0);
    delete cng;
}

bool CSha256::HashChunk(const uint8_t* data, size_t length)
{
    CngHash* cng = static_cast<CngHash*>(m_state);
    return Succeeded(BCryptHashData(cng->hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0));
}

bool CSha256::Finish(uint8_t (&digest)[SHA256_LENGTH])
{
    if (m_ok) m_ok = Succeeded(BCryptFinishHash(static_cast<CngHash*>(m_state)->hash, digest, SHA256_LENGTH, 0));
    if (!m_ok) std::memset(digest, 0, sizeof digest);
    return m_ok;
}

bool VerifyP256(const uint8_t (&point)[P256_POINT_LENGTH], const uint8_t (&hash)[SHA256_LENGTH],
                const uint8_t (&signature)[P256_SIGNATURE_LENGTH])
{
    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + P256_POINT_LENGTH];
    BCRYPT_ECCKEY_BLOB header;
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = P256_POINT_LENGTH / 2;
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, point, P256_POINT_LENGTH);

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = false;
    if (Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
        Succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0))) {
        // Exactly 0 (STATUS_SUCCESS) is a valid signature; any other status is not.
        valid = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(hash), SHA256_LENGTH,
                                      const_cast<PUCHAR>(signature), P256_SIGNATURE_LENGTH, 0) == 0;
    }
    if (key) BCryptDestroyKey(key);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}
