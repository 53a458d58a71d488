#pragma once
// A publisher's public key from the text of a PEM file ("-----BEGIN PUBLIC
// KEY-----", as ruvo-pack keygen writes it), parsed by the platform's own
// library: OpenSSL natively (public_key_pem_openssl.cpp), crypt32 on Windows
// (public_key_pem_win32.cpp). Callers read the file in their own bounded way.
// Kept apart from the crypto back ends so that RUVO.exe, which never reads a
// key file, imports nothing for it.
#include <cstdint>
#include <string>

#include "update/release_crypto.h"

// The point X || Y of an ECDSA P-256 public key. False with a reason that
// follows the file's name in a message ("holds no public key in PEM form (give the .pub.pem file)",
// "is not an ECDSA P-256 public key").
bool PublicKeyFromPem(const std::string& pem, uint8_t (&point)[P256_POINT_LENGTH], std::string* reason);
