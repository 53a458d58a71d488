// Public key files with OpenSSL (native builds).
#include "cli/public_key_file.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>

bool ReadPublicKeyFile(const std::string& path, uint8_t (&point)[P256_POINT_LENGTH], std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open key file \"" + path + "\"";
        return false;
    }
    EVP_PKEY* key = PEM_read_PUBKEY(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (key == nullptr) {
        error = "\"" + path + "\" holds no public key in PEM form (give the .pub.pem file)";
        return false;
    }
    char group[64] = {};
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool p256 =
        EVP_PKEY_is_a(key, "EC") &&
        EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) == 1 &&
        std::strcmp(group, "prime256v1") == 0;
    const bool ok = p256 && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 && BN_bn2binpad(x, point, 32) == 32 &&
                    BN_bn2binpad(y, point + 32, 32) == 32;
    BN_free(x);
    BN_free(y);
    EVP_PKEY_free(key);
    if (!ok) error = "\"" + path + "\" is not an ECDSA P-256 public key";
    return ok;
}
