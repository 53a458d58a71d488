#pragma once
// Signed releases on the publisher's side: key pairs, the release statements
// Door/<model>.Sig2 (format 2) and Door/<model>.Sig (format 1), and the check
// of a whole published release. The
// statement's layout and its check are the updater's own (update/release_statement.h);
// key files are PEM (ECDSA P-256). Natively the key work is OpenSSL's
// (signing_openssl.cpp); a Windows build verifies with CNG but cannot make
// keys or sign (signing_win32.cpp).
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "update/release_statement.h"

// False when this build cannot make keys or sign; `reason` says why.
bool SigningAvailable(std::string* reason);

// Writes OUTBASE.pem (private key, PKCS#8, mode 0600) and OUTBASE.pub.pem
// (public key). Refuses if either file exists: a key is never overwritten.
bool GenerateKeyPair(const std::string& outBase, std::string* error);

// The public key of a PEM file holding a P-256 public key (or a private key,
// whose public half is taken). A file whose keys are of different key pairs
// is refused.
bool LoadPublicKey(const std::string& pemPath, uint8_t (&point)[P256_POINT_LENGTH], std::string* error);

// The public point of the private key a PEM file signs with, taken from the
// private key itself (never from a PUBLIC KEY block beside it). A file without
// a private key, or with a public key of another pair, is refused.
bool LoadSigningKey(const std::string& pemPath, uint8_t (&point)[P256_POINT_LENGTH], std::string* error);

// Signs `body` (SHA-256, ECDSA P-256) with the private key in `pemPath`;
// writes raw r || s and the key's public point.
bool SignBody(const std::string& pemPath, const uint8_t* body, size_t length,
              uint8_t (&signature)[P256_SIGNATURE_LENGTH], uint8_t (&point)[P256_POINT_LENGTH], std::string* error);

struct StatementImage {
    std::string name;                     // catalogue record name (file name under Pool/)
    const std::vector<uint8_t>* package;  // the image package file as published
};

// What a statement says beyond the files: its format and, in format 2, its
// place in the model's releases and its end.
struct StatementTerms {
    uint8_t format = STATEMENT_FORMAT_2;
    uint64_t serial = 1;                         // format 2: 1 and up
    uint64_t expires = STATEMENT_NEVER_EXPIRES;  // format 2: seconds since 1970-01-01 UTC
};

// The whole signed statement of one release, in its stored form, signed by
// each key of `keyPemPaths` in turn (format 1: exactly one; format 2: one to
// three, of distinct key pairs).
bool MakeSignedStatement(const std::vector<std::string>& keyPemPaths, const StatementTerms& terms,
                         const std::string& model, const std::vector<uint8_t>& catalogue,
                         const std::vector<StatementImage>& images, std::vector<uint8_t>* statement,
                         std::string* error);

// Checks OUTDIR/BRELM/Door/<model>.Sig2 against the keys (`threshold` of
// them distinct must have signed it) and `now`, the catalogue and every image
// package under Pool/, as a signed updater would, and prints one line per
// finding, with the statement's serial and expiry. Returns the number of
// failures (0: the release holds).
int VerifyRelease(const std::string& outDir, const std::string& model, const std::vector<ReleaseKey>& keys,
                  int32_t threshold, int64_t now, std::ostream& out);
