// The release statement: its layout, the check's order and codes, the
// per-image check, and the OpenSSL back end of the crypto interface. The
// statements are signed with the test-only key fixtures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/support/package_fixtures.h"
#include "tools/ruvo-pack/signing.h"
#include "tests/support/sha256_cases.h"
#include "update/catalogue.h"
#include "update/release_statement.h"

namespace {

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a.pem";
const std::string KEY_B = std::string(TEST_KEYS_DIR) + "/test-only-release-key-b.pem";

ReleaseKey TrustedKey(const std::string& pem)
{
    ReleaseKey key{};
    std::string error;
    EXPECT_TRUE(LoadPublicKey(pem, key.point, &error)) << error;
    EXPECT_TRUE(ReleaseKeyId(key.point, key.keyId));
    return key;
}

// Signs bytes 0 .. size-65 again with `pem` and puts the signature last, so
// that a test changes one field and only that field is wrong.
void Resign(Bytes& statement, const std::string& pem = KEY_A)
{
    ASSERT_GE(statement.size(), P256_SIGNATURE_LENGTH);
    uint8_t signature[P256_SIGNATURE_LENGTH], point[P256_POINT_LENGTH];
    std::string error;
    ASSERT_TRUE(SignBody(pem, statement.data(), statement.size() - P256_SIGNATURE_LENGTH, signature, point, &error))
        << error;
    std::memcpy(statement.data() + statement.size() - P256_SIGNATURE_LENGTH, signature, sizeof signature);
}

// A small release of model M01A: three images and their catalogue, with the
// statement key a signs for it.
struct Release {
    Bytes images[3];
    Bytes catalogue;  // as stored on the server
    Bytes plain;      // as CheckPackage leaves it
    Bytes statement;

    Release(const std::string& model = "M01A", const std::string& key = KEY_A)
    {
        const char* names[] = {"T0M21F", "V0MA01", "C0M0R1"};
        std::vector<CatalogueRecordInput> records;
        std::vector<StatementImage> statementImages;
        std::string error;
        for (int i = 0; i < 3; ++i) {
            Bytes firmware(300 + 1000 * i, static_cast<uint8_t>(i + 1));
            EXPECT_TRUE(BuildImagePackage(std::string(names[i] + 2, 4).c_str(), 16 * i, firmware, &images[i], &error));
            records.push_back({names[i], static_cast<uint32_t>(images[i].size()), u"region"});
        }
        for (int i = 0; i < 3; ++i) statementImages.push_back({names[i], &images[i]});
        EXPECT_TRUE(BuildCataloguePackage(model.c_str(), 2, records, &catalogue, &error)) << error;
        plain = catalogue;
        EXPECT_EQ(CheckPackage(PACKAGE_CATALOGUE, plain.data(), static_cast<uint32_t>(plain.size()), model.c_str(),
                               plain.size()),
                  PACKAGE_OK);
        EXPECT_TRUE(MakeSignedStatement(key, model, catalogue, statementImages, &statement, &error)) << error;
    }

    CatalogueFacts Facts() const
    {
        CatalogueFacts facts{};
        facts.length = static_cast<uint32_t>(catalogue.size());
        Sha256(catalogue.data(), catalogue.size(), facts.sha256);
        facts.decoded = plain.data();
        facts.capacity = plain.size();
        return facts;
    }
};

int32_t Check(const Bytes& statement, const CatalogueFacts& facts, const std::string& model = "M01A",
              ReleaseStatement* out = nullptr)
{
    static const ReleaseKey keys[] = {TrustedKey(KEY_A)};
    ReleaseStatement scratch;
    // The statement sits in a buffer of exactly its size, so a read past it is caught.
    Bytes exact(statement);
    return CheckStatement(exact.empty() ? nullptr : exact.data(), exact.size(), keys, 1, model.c_str(), facts,
                          out ? out : &scratch);
}

TEST(Sha256, MatchesTheStandardVectorsAndIsTheSameInAnyChunking)
{
    ExpectSha256OfStandardVectorsInAnyChunking();
}

TEST(VerifyP256, AcceptsOnlyTheSignersSignatureOverTheSameHash)
{
    const uint8_t body[] = "release";
    uint8_t signature[P256_SIGNATURE_LENGTH], pointA[P256_POINT_LENGTH], hash[SHA256_LENGTH];
    std::string error;
    ASSERT_TRUE(SignBody(KEY_A, body, sizeof body, signature, pointA, &error)) << error;
    ASSERT_TRUE(Sha256(body, sizeof body, hash));
    EXPECT_TRUE(VerifyP256(pointA, hash, signature));

    uint8_t flipped[P256_SIGNATURE_LENGTH];
    std::memcpy(flipped, signature, sizeof flipped);
    flipped[40] ^= 1;
    EXPECT_FALSE(VerifyP256(pointA, hash, flipped));

    uint8_t otherHash[SHA256_LENGTH];
    std::memcpy(otherHash, hash, sizeof otherHash);
    otherHash[0] ^= 0x80;
    EXPECT_FALSE(VerifyP256(pointA, otherHash, signature));

    EXPECT_FALSE(VerifyP256(TrustedKey(KEY_B).point, hash, signature));

    uint8_t offCurve[P256_POINT_LENGTH];
    std::memcpy(offCurve, pointA, sizeof offCurve);
    offCurve[63] ^= 1;
    EXPECT_FALSE(VerifyP256(offCurve, hash, signature));
}

TEST(Statement, ASignedStatementOfTheReleaseHoldsAndReadsBack)
{
    const Release release;
    ASSERT_EQ(release.statement.size(), STATEMENT_MIN_LENGTH + 3 * STATEMENT_RECORD_LENGTH);
    ReleaseStatement statement;
    ASSERT_EQ(Check(release.statement, release.Facts(), "M01A", &statement), STATEMENT_OK);
    EXPECT_STREQ(statement.modelId, "M01A");
    EXPECT_EQ(statement.catalogueLength, release.catalogue.size());
    ASSERT_EQ(statement.recordCount, 3);
    EXPECT_STREQ(statement.records[2].name, "C0M0R1");
    EXPECT_EQ(statement.records[2].size, release.images[2].size());
    EXPECT_EQ(0, std::memcmp(statement.keyId, TrustedKey(KEY_A).keyId, RELEASE_KEY_ID_LENGTH));
}

TEST(Statement, MalformedStatementsAreRefusedBeforeTheSignatureIsLookedAt)
{
    const Release release;
    const Bytes good = release.statement;
    constexpr size_t records = STATEMENT_HEADER_LENGTH;
    const struct {
        const char* what;
        std::function<void(Bytes&)> change;
    } cases[] = {
        {"empty", [](Bytes& s) { s.clear(); }},
        {"one byte short of the smallest", [](Bytes& s) { s.resize(STATEMENT_MIN_LENGTH - 1); }},
        {"a server's 404 page", [](Bytes& s) { s.assign(153, '<'); }},
        {"one byte more", [](Bytes& s) { s.push_back(0); }},
        {"longer than the limit", [](Bytes& s) { s.resize(STATEMENT_MAX_LENGTH + 68, 0); }},
        {"tag", [](Bytes& s) { s[0] = 'X'; }},
        {"version 2", [](Bytes& s) { s[4] = 2; }},
        {"reserved byte", [](Bytes& s) { s[7] = 1; }},
        {"count says 2 for 3 records", [](Bytes& s) { s[5] = 2; }},
        {"count 9", [](Bytes& s) { s[5] = 9; }},
        {"model id with a NUL", [](Bytes& s) { s[18] = 0; }},
        {"name without its NUL", [](Bytes& s) { std::memset(s.data() + records, 'A', 32); }},
        {"byte after a name's NUL", [](Bytes& s) { s[records + 20] = 'x'; }},
    };
    for (const auto& c : cases) {
        Bytes statement = good;
        c.change(statement);
        if (statement.size() >= P256_SIGNATURE_LENGTH) Resign(statement);
        EXPECT_EQ(Check(statement, release.Facts()), STATEMENT_MALFORMED) << c.what;
    }

    // The longest statement the layout allows: 8 records, 664 bytes.
    Bytes longest(STATEMENT_MAX_LENGTH, 0);
    std::memcpy(longest.data(), good.data(), STATEMENT_HEADER_LENGTH);
    longest[5] = 8;
    Resign(longest);
    ReleaseStatement statement;
    EXPECT_EQ(ParseStatement(longest.data(), longest.size(), &statement), STATEMENT_OK);
    EXPECT_EQ(statement.recordCount, 8);
}

TEST(Statement, ChecksRunInTheirOrderAndStopAtTheFirstFailure)
{
    const Release release;
    const CatalogueFacts facts = release.Facts();
    constexpr size_t record1 = STATEMENT_HEADER_LENGTH + STATEMENT_RECORD_LENGTH;
    const struct {
        const char* what;
        std::function<void(Bytes&)> change;
        int32_t code;
    } cases[] = {
        {"signed by key b", [](Bytes& s) { s = Release("M01A", KEY_B).statement; }, STATEMENT_BAD_SIGNATURE},
        {"key a's id, key b's signature", [](Bytes& s) { Resign(s, KEY_B); }, STATEMENT_BAD_SIGNATURE},
        {"one signature byte flipped", [](Bytes& s) { s.back() ^= 1; }, STATEMENT_BAD_SIGNATURE},
        {"a signed byte changed, not signed again", [](Bytes& s) { s[30] ^= 1; }, STATEMENT_BAD_SIGNATURE},
        {"another model",
         [](Bytes& s) {
             std::memcpy(s.data() + 16, "M02B", 4);
             Resign(s);
         },
         STATEMENT_OTHER_MODEL},
        {"another model and another catalogue",
         [](Bytes& s) {
             std::memcpy(s.data() + 16, "M02B", 4);
             s[25] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_MODEL},
        {"catalogue length",
         [](Bytes& s) {
             s[23] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_CATALOGUE},
        {"catalogue hash",
         [](Bytes& s) {
             s[55] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_CATALOGUE},
        {"record name",
         [](Bytes& s) {
             s[record1 + 1] = 'X';
             Resign(s);
         },
         STATEMENT_OTHER_RECORDS},
        {"record size",
         [](Bytes& s) {
             s[record1 + 35] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_RECORDS},
        {"a record fewer",
         [](Bytes& s) {
             s.erase(s.end() - P256_SIGNATURE_LENGTH - STATEMENT_RECORD_LENGTH, s.end() - P256_SIGNATURE_LENGTH);
             s[5] = 2;
             Resign(s);
         },
         STATEMENT_OTHER_RECORDS},
        {"image hash only (the catalogue does not carry it)",
         [](Bytes& s) {
             s[record1 + 40] ^= 1;
             Resign(s);
         },
         STATEMENT_OK},
    };
    for (const auto& c : cases) {
        Bytes statement = release.statement;
        c.change(statement);
        EXPECT_EQ(Check(statement, facts), c.code) << c.what;
    }
    // The model the device reports is what counts.
    EXPECT_EQ(Check(release.statement, facts, "M01B"), STATEMENT_OTHER_MODEL);
    // No trusted key at all.
    ReleaseStatement out;
    EXPECT_EQ(CheckStatement(release.statement.data(), release.statement.size(), nullptr, 0, "M01A", facts, &out),
              STATEMENT_BAD_SIGNATURE);
}

TEST(Statement, RecordsOfACatalogueThatCannotBeWalkedDiffer)
{
    const Release release;
    CatalogueFacts facts = release.Facts();
    facts.capacity = PACKAGE_HEADER_LENGTH + 8;  // the records run past the buffer
    EXPECT_EQ(Check(release.statement, facts), STATEMENT_OTHER_RECORDS);
}

TEST(Statement, AnImageMustBeTheFileTheStatementNames)
{
    const Release release;
    ReleaseStatement statement;
    ASSERT_EQ(Check(release.statement, release.Facts(), "M01A", &statement), STATEMENT_OK);
    for (int i = 0; i < 3; ++i) {
        const Bytes& image = release.images[i];
        EXPECT_TRUE(ImageMatchesStatement(statement, i, image.data(), static_cast<uint32_t>(image.size()))) << i;
    }
    Bytes image = release.images[1];
    image[200] ^= 0x01;
    EXPECT_FALSE(ImageMatchesStatement(statement, 1, image.data(), static_cast<uint32_t>(image.size())));
    image = release.images[1];
    image.push_back(0);
    EXPECT_FALSE(ImageMatchesStatement(statement, 1, image.data(), static_cast<uint32_t>(image.size())));
    image = release.images[1];
    EXPECT_FALSE(ImageMatchesStatement(statement, 1, image.data(), static_cast<uint32_t>(image.size() - 1)));
    // Another entry's file, and entries the statement does not have.
    const Bytes& first = release.images[0];
    EXPECT_FALSE(ImageMatchesStatement(statement, 1, first.data(), static_cast<uint32_t>(first.size())));
    EXPECT_FALSE(ImageMatchesStatement(statement, 3, first.data(), static_cast<uint32_t>(first.size())));
    EXPECT_FALSE(ImageMatchesStatement(statement, -1, first.data(), static_cast<uint32_t>(first.size())));
}

}  // namespace
