#pragma once
// SHA-256 against its standard vectors, and the same digest whichever way
// the data is handed over, for each crypto back end (OpenSSL natively, CNG
// under Wine): one table, run by both back ends' tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "update/release_crypto.h"

inline void ExpectSha256OfStandardVectorsInAnyChunking()
{
    const struct {
        std::string message;
        uint8_t digest[SHA256_LENGTH];
    } vectors[] = {
        {"abc", {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad}},
        {"", {0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4, 0xc8, 0x99, 0x6f, 0xb9, 0x24,
              0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b, 0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78, 0x52, 0xb8, 0x55}},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         {0x24, 0x8d, 0x6a, 0x61, 0xd2, 0x06, 0x38, 0xb8, 0xe5, 0xc0, 0x26, 0x93, 0x0c, 0x3e, 0x60, 0x39,
          0xa3, 0x3c, 0xe4, 0x59, 0x64, 0xff, 0x21, 0x67, 0xf6, 0xec, 0xed, 0xd4, 0x19, 0xdb, 0x06, 0xc1}},
    };
    for (const auto& v : vectors) {
        uint8_t digest[SHA256_LENGTH];
        ASSERT_TRUE(Sha256(reinterpret_cast<const uint8_t*>(v.message.data()), v.message.size(), digest));
        EXPECT_EQ(0, std::memcmp(digest, v.digest, sizeof digest)) << '"' << v.message << '"';
    }

    // More than three chunks, fed whole and in odd pieces across the chunk borders.
    std::vector<uint8_t> data(3 * SHA256_CHUNK + 777);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
    uint8_t whole[SHA256_LENGTH];
    ASSERT_TRUE(Sha256(data.data(), data.size(), whole));
    for (const size_t piece : {size_t(30001), size_t(40001), SHA256_CHUNK}) {
        CSha256 hash;
        for (size_t at = 0; at < data.size(); at += piece)
            hash.Update(data.data() + at, std::min(piece, data.size() - at));
        uint8_t pieces[SHA256_LENGTH];
        ASSERT_TRUE(hash.Finish(pieces));
        EXPECT_EQ(0, std::memcmp(whole, pieces, sizeof whole)) << "pieces of " << piece;
    }
}
