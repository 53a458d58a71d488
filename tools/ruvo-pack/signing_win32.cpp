// Key files on Windows: public keys are read with the system's crypt32 so
// that verify-release works through CNG; making keys and signing need the
// native (OpenSSL) build and are refused here.
#include "signing.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "files.h"

namespace {

const char NO_SIGNING[] =
    "this Windows build of ruvo-pack cannot make keys or sign; use the native build (OpenSSL) for that";

// DER of the named-curve parameter of P-256 (OID 1.2.840.10045.3.1.7).
const BYTE P256_CURVE_OID[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

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
    const std::string pem(text.begin(), text.end());
    DWORD derLength = 0;
    std::vector<BYTE> der(pem.size());
    derLength = static_cast<DWORD>(der.size());
    if (pem.find("-----BEGIN PUBLIC KEY-----") == std::string::npos ||
        !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &derLength, nullptr, nullptr)) {
        *error = "\"" + pemPath + "\" holds no public key in PEM form (a Windows build reads public keys only)";
        return false;
    }
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoLength = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derLength, CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &info, &infoLength)) {
        *error = "\"" + pemPath + "\" holds no readable public key";
        return false;
    }
    const bool p256 = std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
                      info->Algorithm.Parameters.cbData == sizeof P256_CURVE_OID &&
                      std::memcmp(info->Algorithm.Parameters.pbData, P256_CURVE_OID, sizeof P256_CURVE_OID) == 0 &&
                      info->PublicKey.cbData == 1 + P256_POINT_LENGTH && info->PublicKey.pbData[0] == 0x04;
    if (p256) std::memcpy(point, info->PublicKey.pbData + 1, P256_POINT_LENGTH);
    LocalFree(info);
    if (!p256) *error = "\"" + pemPath + "\" is not an ECDSA P-256 public key";
    return p256;
}
