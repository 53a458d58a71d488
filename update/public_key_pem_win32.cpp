#include "update/public_key_pem.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

namespace {

// DER of the named-curve parameter of P-256 (OID 1.2.840.10045.3.1.7).
const BYTE P256_CURVE_OID[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

}  // namespace

bool PublicKeyFromPem(const std::string& pem, uint8_t (&point)[P256_POINT_LENGTH], std::string* reason)
{
    std::vector<BYTE> der(pem.size() + 1);
    DWORD derLength = static_cast<DWORD>(der.size());
    if (pem.find("-----BEGIN PUBLIC KEY-----") == std::string::npos ||
        !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &derLength, nullptr, nullptr)) {
        *reason = "holds no public key in PEM form (give the .pub.pem file)";
        return false;
    }
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoLength = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derLength, CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &info, &infoLength)) {
        *reason = "holds no readable public key";
        return false;
    }
    const bool p256 = std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
                      info->Algorithm.Parameters.cbData == sizeof P256_CURVE_OID &&
                      std::memcmp(info->Algorithm.Parameters.pbData, P256_CURVE_OID, sizeof P256_CURVE_OID) == 0 &&
                      info->PublicKey.cbData == 1 + P256_POINT_LENGTH && info->PublicKey.pbData[0] == 0x04;
    if (p256) std::memcpy(point, info->PublicKey.pbData + 1, P256_POINT_LENGTH);
    LocalFree(info);
    if (!p256) *reason = "is not an ECDSA P-256 public key";
    return p256;
}
