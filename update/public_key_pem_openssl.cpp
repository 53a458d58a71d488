#include "update/public_key_pem.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>

bool PublicKeyFromPem(const std::string& pem, uint8_t (&point)[P256_POINT_LENGTH], std::string* reason)
{
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = bio ? PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (key == nullptr) {
        *reason = "holds no public key in PEM form (give the .pub.pem file)";
        return false;
    }
    char group[64] = {};
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool ok =
        EVP_PKEY_is_a(key, "EC") &&
        EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) == 1 &&
        std::strcmp(group, "prime256v1") == 0 && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 && BN_bn2binpad(x, point, 32) == 32 &&
        BN_bn2binpad(y, point + 32, 32) == 32;
    BN_free(x);
    BN_free(y);
    EVP_PKEY_free(key);
    if (!ok) *reason = "is not an ECDSA P-256 public key";
    return ok;
}
