// Key files and signing with OpenSSL (native builds of ruvo-pack).
#include "signing.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "files.h"

namespace {

bool IsP256(EVP_PKEY* key)
{
    char group[64] = {};
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

bool PublicPoint(EVP_PKEY* key, uint8_t (&point)[P256_POINT_LENGTH])
{
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    const bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 && BN_bn2binpad(x, point, 32) == 32 &&
                    BN_bn2binpad(y, point + 32, 32) == 32;
    BN_free(x);
    BN_free(y);
    return ok;
}

EVP_PKEY* ParsePemKey(const std::vector<uint8_t>& text, bool privateKey)
{
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    if (!bio) return nullptr;
    EVP_PKEY* key = privateKey ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr)
                               : PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return key;
}

// Reads a PEM key file: a private key if `wantPrivate`, otherwise a public
// key or, failing that, the public half of a private key. The file is read
// as every input of the tool is: a bounded, regular file (never a FIFO that
// would block).
EVP_PKEY* ReadKey(const std::string& path, bool wantPrivate, std::string* error)
{
    std::vector<uint8_t> text;
    if (!ReadWholeFile(path, KEY_FILE_MAX, &text, error)) return nullptr;
    EVP_PKEY* key = nullptr;
    if (!wantPrivate) key = ParsePemKey(text, false);
    if (!key) key = ParsePemKey(text, true);
    if (!key) {
        *error = "\"" + path + "\" holds no " + (wantPrivate ? "private" : "public") + " key in PEM form";
        return nullptr;
    }
    if (!IsP256(key)) {
        EVP_PKEY_free(key);
        *error = "\"" + path + "\" is not an ECDSA P-256 key";
        return nullptr;
    }
    return key;
}

// Creates `path` only if it does not exist, with `mode`, and writes the key.
bool WriteNewKeyFile(const std::string& path, mode_t mode, EVP_PKEY* key, bool privateKey, std::string* error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
        *error =
            "cannot create \"" + path + "\"" + (errno == EEXIST ? ": it exists, and keys are never overwritten" : "");
        return false;
    }
    fchmod(fd, mode);  // whatever the umask says
    FILE* file = fdopen(fd, "wb");
    bool ok = file && (privateKey ? PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr)
                                  : PEM_write_PUBKEY(file, key)) == 1;
    if (file) {
        ok = std::fflush(file) == 0 && fsync(fd) == 0 && ok;
        ok = std::fclose(file) == 0 && ok;
    } else {
        close(fd);
    }
    if (!ok) *error = "cannot write \"" + path + "\"";
    return ok;
}

}  // namespace

bool SigningAvailable(std::string*)
{
    return true;
}

bool GenerateKeyPair(const std::string& outBase, std::string* error)
{
    const std::string privatePath = outBase + ".pem";
    const std::string publicPath = outBase + ".pub.pem";
    if (access(publicPath.c_str(), F_OK) == 0) {
        *error = "\"" + publicPath + "\" exists, and keys are never overwritten";
        return false;
    }
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) {
        *error = "key generation failed";
        return false;
    }
    bool ok = WriteNewKeyFile(privatePath, 0600, key, true, error);
    if (ok && !WriteNewKeyFile(publicPath, 0644, key, false, error)) {
        ok = false;
        unlink(privatePath.c_str());  // no half key pair left behind
    }
    EVP_PKEY_free(key);
    return ok;
}

bool LoadPublicKey(const std::string& pemPath, uint8_t (&point)[P256_POINT_LENGTH], std::string* error)
{
    EVP_PKEY* key = ReadKey(pemPath, false, error);
    if (!key) return false;
    const bool ok = PublicPoint(key, point);
    EVP_PKEY_free(key);
    if (!ok) *error = "cannot read the public point of \"" + pemPath + "\"";
    return ok;
}

bool SignBody(const std::string& pemPath, const uint8_t* body, size_t length,
              uint8_t (&signature)[P256_SIGNATURE_LENGTH], uint8_t (&point)[P256_POINT_LENGTH], std::string* error)
{
    EVP_PKEY* key = ReadKey(pemPath, true, error);
    if (!key) return false;
    bool ok = PublicPoint(key, point);

    // OpenSSL signs in DER; the statement carries raw r || s, each left-padded to 32 bytes.
    unsigned char der[80];
    size_t derLength = sizeof der;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ok = ok && context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
         EVP_DigestSign(context, der, &derLength, body, length) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);

    const unsigned char* cursor = der;
    ECDSA_SIG* sig = ok ? d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derLength)) : nullptr;
    ok = sig && BN_bn2binpad(ECDSA_SIG_get0_r(sig), signature, 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig), signature + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    if (!ok) *error = "signing with \"" + pemPath + "\" failed";
    return ok;
}
