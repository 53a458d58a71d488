#pragma once
// Hashing and signature checks for signed releases: the one small interface
// the statement check, the updaters and the publisher tool share. Two back
// ends implement it, one per platform, and nothing here is hand-written
// cryptography:
//   release_crypto_cng.cpp      Windows CNG (bcrypt.dll), linked into RUVO.exe
//   release_crypto_openssl.cpp  OpenSSL libcrypto, for native builds (tests,
//                               ruvo-pack, the command-line updater)
// release_crypto.cpp holds the back-end-neutral part (chunking, one-shot hash).
#include <cstddef>
#include <cstdint>

constexpr size_t SHA256_LENGTH = 32;
constexpr size_t P256_POINT_LENGTH = 64;      // uncompressed point without its 0x04 prefix: X then Y, big-endian
constexpr size_t P256_SIGNATURE_LENGTH = 64;  // raw r then s, each 32 bytes big-endian
// The most one back-end call is handed: bounded, and it fits CNG's ULONG.
constexpr size_t SHA256_CHUNK = 65536;

// Incremental SHA-256. The back end's hash object is made once, in the
// constructor; Update allocates nothing, whatever the input's size.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Adds `length` bytes, handed to the back end in chunks of SHA256_CHUNK.
    void Update(const uint8_t* data, size_t length);
    // Writes the digest of everything added. False when the back end failed
    // at any step (then `digest` is zeroed). Call once.
    bool Finish(uint8_t (&digest)[SHA256_LENGTH]);

private:
    bool HashChunk(const uint8_t* data, size_t length);  // back end, length <= SHA256_CHUNK

    void* m_state;  // the back end's hash object; null if it could not be made
    bool m_ok;
};

// SHA-256 of one memory block. False (digest zeroed) if the back end failed.
bool Sha256(const uint8_t* data, size_t length, uint8_t (&digest)[SHA256_LENGTH]);

// True only when `signature` is a valid ECDSA P-256 signature of the
// SHA-256 digest `hash` under the public key `point`. A point that is not on
// the curve, or any back-end failure, gives false.
bool VerifyP256(const uint8_t (&point)[P256_POINT_LENGTH], const uint8_t (&hash)[SHA256_LENGTH],
                const uint8_t (&signature)[P256_SIGNATURE_LENGTH]);
