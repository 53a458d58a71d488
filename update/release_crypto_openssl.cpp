// OpenSSL back end of the crypto interface (native builds).
#include "update/release_crypto.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>

CSha256::CSha256() : m_state(EVP_MD_CTX_new()), m_ok(false)
{
    EVP_MD_CTX* context = static_cast<EVP_MD_CTX*>(m_state);
    m_ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
}

CSha256::~CSha256()
{
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_state));
}

bool CSha256::HashChunk(const uint8_t* data, size_t length)
{
    return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_state), data, length) == 1;
}

bool CSha256::Finish(uint8_t (&digest)[SHA256_LENGTH])
{
    unsigned int written = 0;
    if (m_ok) m_ok = EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_state), digest, &written) == 1;
    if (!m_ok || written != SHA256_LENGTH) {
        std::memset(digest, 0, sizeof digest);
        return m_ok = false;
    }
    return true;
}

namespace {

// The public key as OpenSSL holds it: the curve's name and the encoded point 0x04 X Y.
EVP_PKEY* ImportPoint(const uint8_t (&point)[P256_POINT_LENGTH])
{
    uint8_t encoded[1 + P256_POINT_LENGTH];
    encoded[0] = 0x04;
    std::memcpy(encoded + 1, point, P256_POINT_LENGTH);
    char group[] = "prime256v1";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded),
        OSSL_PARAM_construct_end(),
    };
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (context && EVP_PKEY_fromdata_init(context) == 1) {
        EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params));
    }
    EVP_PKEY_CTX_free(context);
    return key;
}

// OpenSSL verifies DER signatures: r and s as two INTEGERs.
int EncodeSignature(const uint8_t (&signature)[P256_SIGNATURE_LENGTH], uint8_t** der)
{
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
    int length = -1;
    if (sig && r && s && ECDSA_SIG_set0(sig, r, s) == 1) {
        r = s = nullptr;  // owned by sig now
        length = i2d_ECDSA_SIG(sig, der);
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return length;
}

}  // namespace

bool VerifyP256(const uint8_t (&point)[P256_POINT_LENGTH], const uint8_t (&hash)[SHA256_LENGTH],
                const uint8_t (&signature)[P256_SIGNATURE_LENGTH])
{
    EVP_PKEY* key = ImportPoint(point);
    if (!key) return false;
    // A public key from outside must lie on the curve before it is used.
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    uint8_t* der = nullptr;
    const int derLength = EncodeSignature(signature, &der);
    const bool valid = context && derLength > 0 && EVP_PKEY_public_check(context) == 1 &&
                       EVP_PKEY_verify_init(context) == 1 &&
                       EVP_PKEY_verify(context, der, static_cast<size_t>(derLength), hash, SHA256_LENGTH) == 1;
    OPENSSL_free(der);
    EVP_PKEY_CTX_free(context);
    EVP_PKEY_free(key);
    return valid;
}
