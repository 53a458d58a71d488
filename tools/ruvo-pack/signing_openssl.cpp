// Key files and signing with OpenSSL (native builds of ruvo-pack).
#include "tools/ruvo-pack/signing.h"

#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/ruvo-pack/files.h"

namespace {

bool IsP256(EVP_PKEY* key)
{
    char group[64] = {};
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

// X || Y, 64 bytes.
bool PublicPoint(EVP_PKEY* key, uint8_t* point)
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

// The public points of a key file's PEM blocks: of its public keys and of
// the public halves of its private keys, each in file order.
struct KeyFilePoints {
    std::vector<std::array<uint8_t, P256_POINT_LENGTH>> publicKeys, privateKeys;
};

bool ReadKeyFilePoints(const std::string& path, KeyFilePoints* points, std::string* error)
{
    std::vector<uint8_t> text;
    if (!ReadWholeFile(path, KEY_FILE_MAX, &text, error)) return false;
    for (const bool privateKey : {false, true}) {
        BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
        if (!bio) {
            *error = "out of memory reading \"" + path + "\"";
            return false;
        }
        bool ok = true;
        while (EVP_PKEY* key = privateKey ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr)
                                          : PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr)) {
            std::array<uint8_t, P256_POINT_LENGTH> point;
            ok = IsP256(key) && PublicPoint(key, point.data());
            EVP_PKEY_free(key);
            if (!ok) break;
            (privateKey ? points->privateKeys : points->publicKeys).push_back(point);
        }
        ERR_clear_error();  // the end of the blocks is reported as an error
        BIO_free(bio);
        if (!ok) {
            *error = "\"" + path + "\" holds a key that is not an ECDSA P-256 key";
            return false;
        }
    }
    return true;
}

// True when every key of the file is the same key pair: a file holding one
// pair's public half and another pair's private half would let a statement
// name one key and be signed by the other.
bool OnePair(const KeyFilePoints& points, const std::string& path, std::string* error)
{
    const auto& first = points.privateKeys.empty() ? points.publicKeys.front() : points.privateKeys.front();
    for (const auto* keys : {&points.publicKeys, &points.privateKeys}) {
        for (const auto& point : *keys) {
            if (point != first) {
                *error = "\"" + path +
                         "\" holds keys of different key pairs (its public and private keys do not belong together); "
                         "refused: give a file with one key pair";
                return false;
            }
        }
    }
    return true;
}

// The first private key of a PEM key file (LoadSigningKey has vouched for
// the file). The file is read as every input of the tool is: a bounded,
// regular file (never a FIFO that would block).
EVP_PKEY* ReadPrivateKey(const std::string& path, std::string* error)
{
    std::vector<uint8_t> text;
    if (!ReadWholeFile(path, KEY_FILE_MAX, &text, error)) return nullptr;
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!key) {
        *error = "\"" + path + "\" holds no private key in PEM form";
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
    KeyFilePoints points;
    if (!ReadKeyFilePoints(pemPath, &points, error)) return false;
    if (points.publicKeys.empty() && points.privateKeys.empty()) {
        *error = "\"" + pemPath + "\" holds no public key in PEM form";
        return false;
    }
    if (!OnePair(points, pemPath, error)) return false;
    const auto& found = points.publicKeys.empty() ? points.privateKeys.front() : points.publicKeys.front();
    std::copy(found.begin(), found.end(), point);
    return true;
}

bool LoadSigningKey(const std::string& pemPath, uint8_t (&point)[P256_POINT_LENGTH], std::string* error)
{
    KeyFilePoints points;
    if (!ReadKeyFilePoints(pemPath, &points, error)) return false;
    if (points.privateKeys.empty()) {
        *error = "\"" + pemPath + "\" holds no private key in PEM form";
        return false;
    }
    if (!OnePair(points, pemPath, error)) return false;
    std::copy(points.privateKeys.front().begin(), points.privateKeys.front().end(), point);
    return true;
}

bool SignBody(const std::string& pemPath, const uint8_t* body, size_t length,
              uint8_t (&signature)[P256_SIGNATURE_LENGTH], uint8_t (&point)[P256_POINT_LENGTH], std::string* error)
{
    EVP_PKEY* key = ReadPrivateKey(pemPath, error);
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
