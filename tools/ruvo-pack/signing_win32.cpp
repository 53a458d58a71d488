// Key files on Windows: public keys are read with the system's crypt32 so
// that verify-release works through CNG; making keys and signing need the
// native (OpenSSL) build and are refused here.
#include "tools/ruvo-pack/signing.h"

#include <vector>

#include "tools/ruvo-pack/files.h"
#include "update/public_key_pem.h"

namespace {

const char NO_SIGNING[] =
    "this Windows build of ruvo-pack cannot make keys or sign; use the native build (OpenSSL) for that";

}  // namespace

bool SigningAvailable(std::string* reason)
{
    *reason = NO_SIGNING;
    return false;
}

bool GenerateKeyPair(const std::string&, std::string* error)
{
    *error = NO_SIGNING;
    return false;
}

bool LoadSigningKey(const std::string&, uint8_t (&)[P256_POINT_LENGTH], std::string* error)
{
    *error = NO_SIGNING;
    return false;
}

bool SignBody(const std::string&, const uint8_t*, size_t, uint8_t (&)[P256_SIGNATURE_LENGTH],
              uint8_t (&)[P256_POINT_LENGTH], std::string* error)
{
    *error = NO_SIGNING;
    return false;
}

bool LoadPublicKey(const std::string& pemPath, uint8_t (&point)[P256_POINT_LENGTH], std::string* error)
{
    std::vector<uint8_t> text;
    if (!ReadWholeFile(pemPath, KEY_FILE_MAX, &text, error)) return false;
    std::string reason;
    if (PublicKeyFromPem(std::string(text.begin(), text.end()), point, &reason)) return true;
    *error = "\"" + pemPath + "\" " + reason;
    return false;
}
