#pragma once
// --key PUB.pem: a publisher's ECDSA P-256 public key from a PEM file (parsed
// by update/public_key_pem.h: OpenSSL natively, crypt32 on Windows).
#include <cstdint>
#include <string>

#include "update/release_crypto.h"

// False with a one-line reason in `error` when the file cannot be read or
// holds no P-256 public key.
bool ReadPublicKeyFile(const std::string& path, uint8_t (&point)[P256_POINT_LENGTH], std::string& error);
