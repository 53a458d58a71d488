// The release statement: its two layouts, the check's order and codes
// (signatures against a threshold, expiry), the per-image check, and the
// OpenSSL back end of the crypto interface. The statements are signed with
// the test-only key fixtures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/support/package_fixtures.h"
#include "tools/ruvo-pack/signing.h"
#include "tests/support/sha256_cases.h"
#include "update/catalogue.h"
#include "common/bytes.h"
#include "update/release_statement.h"

namespace {

const std::string KEY_A = std::string(TEST_KEYS_DIR) + "/test-only-release-key-a.pem";
const std::string KEY_B = std::string(TEST_KEYS_DIR) + "/test-only-release-key-b.pem";
const std::string KEY_C = std::string(TEST_KEYS_DIR) + "/test-only-release-key-c.pem";
constexpr int64_t NOW = 1800000000;  // 2027-01-15
constexpr uint64_t NEXT_WEEK = NOW + 7 * 86400;

ReleaseKey TrustedKey(const std::string& pem)
{
    ReleaseKey key{};
    std::string error;
    EXPECT_TRUE(LoadPublicKey(pem, key.point, &error)) << error;
    EXPECT_TRUE(ReleaseKeyId(key.point, key.keyId));
    return key;
}

// Signs the signed part of a format-2 statement again, each signature
// under its own key id, so that a test changes one field and only that
// field is wrong. The signature count byte says how many signatures follow.
void Resign(Bytes& statement, const std::vector<std::string>& pems = {KEY_A})
{
    const size_t signatures = statement.size() > 6 ? statement[6] : 0;
    ASSERT_GE(statement.size(), signatures * STATEMENT_SIGNATURE_ENTRY);
    const size_t body = statement.size() - signatures * STATEMENT_SIGNATURE_ENTRY;
    for (size_t i = 0; i < signatures; ++i) {
        uint8_t* at = statement.data() + body + i * STATEMENT_SIGNATURE_ENTRY;
        uint8_t point[P256_POINT_LENGTH];
        uint8_t(&signature)[P256_SIGNATURE_LENGTH] = *reinterpret_cast<uint8_t(*)[P256_SIGNATURE_LENGTH]>(at + 8);
        std::string error;
        ASSERT_TRUE(SignBody(pems[i % pems.size()], statement.data(), body, signature, point, &error)) << error;
        uint8_t id[RELEASE_KEY_ID_LENGTH];
        ASSERT_TRUE(ReleaseKeyId(point, id));
        std::memcpy(at, id, sizeof id);
    }
}

// A small release of model M01A: three images and their catalogue, with the
// statement key a signs for it.
struct Release {
    Bytes images[3];
    Bytes catalogue;  // as stored on the server
    Bytes plain;      // as CheckPackage leaves it
    Bytes statement;

    explicit Release(const std::vector<std::string>& keys = {KEY_A}, const std::string& model = "M01A",
                     StatementTerms terms = {STATEMENT_FORMAT_2, 7, NEXT_WEEK})
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
        EXPECT_TRUE(MakeSignedStatement(keys, terms, model, catalogue, statementImages, &statement, &error)) << error;
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

// Key a trusted alone, format 2, at NOW.
StatementTrust TrustA()
{
    static const ReleaseKey keys[] = {TrustedKey(KEY_A)};
    return {keys, 1, 1, STATEMENT_FORMAT_2, NOW};
}

int32_t Check(const Bytes& statement, const CatalogueFacts& facts, const std::string& model = "M01A",
              ReleaseStatement* out = nullptr, const StatementTrust& trust = TrustA())
{
    ReleaseStatement scratch;
    // The statement sits in a buffer of exactly its size, so a read past it is caught.
    Bytes exact(statement);
    return CheckStatement(exact.empty() ? nullptr : exact.data(), exact.size(), trust, model.c_str(), facts,
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
    ASSERT_EQ(release.statement.size(), STATEMENT2_MIN_LENGTH + 3 * STATEMENT_RECORD_LENGTH);
    ReleaseStatement statement;
    ASSERT_EQ(Check(release.statement, release.Facts(), "M01A", &statement), STATEMENT_OK);
    EXPECT_EQ(statement.format, STATEMENT_FORMAT_2);
    EXPECT_EQ(statement.serial, 7u);
    EXPECT_EQ(statement.expires, NEXT_WEEK);
    EXPECT_STREQ(statement.modelId, "M01A");
    EXPECT_EQ(statement.catalogueLength, release.catalogue.size());
    ASSERT_EQ(statement.recordCount, 3);
    EXPECT_STREQ(statement.records[2].name, "C0M0R1");
    EXPECT_EQ(statement.records[2].size, release.images[2].size());
    ASSERT_EQ(statement.signatureCount, 1);
    EXPECT_EQ(0, std::memcmp(statement.signatures[0].keyId, TrustedKey(KEY_A).keyId, RELEASE_KEY_ID_LENGTH));
}

TEST(Statement, TheFirstFormatStillReadsButAClientOfTheSecondNeverTakesIt)
{
    const Release first({KEY_A}, "M01A", {STATEMENT_FORMAT_1, 0, STATEMENT_NEVER_EXPIRES});
    ASSERT_EQ(first.statement.size(), STATEMENT1_MIN_LENGTH + 3 * STATEMENT_RECORD_LENGTH);
    StatementTrust trust = TrustA();
    trust.format = STATEMENT_FORMAT_1;
    ReleaseStatement statement;
    EXPECT_EQ(Check(first.statement, first.Facts(), "M01A", &statement, trust), STATEMENT_OK);
    EXPECT_EQ(statement.serial, 0u);
    EXPECT_EQ(statement.expires, STATEMENT_NEVER_EXPIRES);
    // Served where the second format belongs, or checked as it: malformed.
    EXPECT_EQ(Check(first.statement, first.Facts()), STATEMENT_MALFORMED);
    const Release second;
    EXPECT_EQ(Check(second.statement, second.Facts(), "M01A", nullptr, trust), STATEMENT_MALFORMED);
}

TEST(Statement, MalformedStatementsAreRefusedBeforeTheSignatureIsLookedAt)
{
    const Release release;
    const Bytes good = release.statement;
    constexpr size_t records = STATEMENT2_HEADER_LENGTH;
    const struct {
        const char* what;
        std::function<void(Bytes&)> change;
    } cases[] = {
        {"empty", [](Bytes& s) { s.clear(); }},
        {"one byte short of the smallest", [](Bytes& s) { s.resize(STATEMENT2_MIN_LENGTH - 1); }},
        {"a server's 404 page", [](Bytes& s) { s.assign(153, '<'); }},
        {"one byte more", [](Bytes& s) { s.push_back(0); }},
        {"longer than the limit", [](Bytes& s) { s.resize(STATEMENT_MAX_LENGTH + 68, 0); }},
        {"tag", [](Bytes& s) { s[0] = 'X'; }},
        {"version 1", [](Bytes& s) { s[4] = 1; }},
        {"version 3", [](Bytes& s) { s[4] = 3; }},
        {"reserved byte", [](Bytes& s) { s[7] = 1; }},
        {"count says 2 for 3 records", [](Bytes& s) { s[5] = 2; }},
        {"count 9", [](Bytes& s) { s[5] = 9; }},
        {"no signature",
         [](Bytes& s) {
             s.resize(s.size() - STATEMENT_SIGNATURE_ENTRY);
             s[6] = 0;
         }},
        {"signature count 2 for one signature", [](Bytes& s) { s[6] = 2; }},
        {"four signatures",
         [](Bytes& s) {
             s.resize(s.size() + 3 * STATEMENT_SIGNATURE_ENTRY);
             s[6] = 4;
         }},
        {"serial 0", [](Bytes& s) { std::memset(s.data() + 8, 0, 8); }},
        {"model id with a NUL", [](Bytes& s) { s[26] = 0; }},
        {"name without its NUL", [](Bytes& s) { std::memset(s.data() + records, 'A', 32); }},
        {"byte after a name's NUL", [](Bytes& s) { s[records + 20] = 'x'; }},
    };
    for (const auto& c : cases) {
        Bytes statement = good;
        c.change(statement);
        if (statement.size() >= STATEMENT2_MIN_LENGTH && statement[6] >= 1 && statement[6] <= 3) Resign(statement);
        EXPECT_EQ(Check(statement, release.Facts()), STATEMENT_MALFORMED) << c.what;
    }

    // The longest statement the layout allows: 8 records, 3 signatures, 824 bytes.
    Bytes longest(STATEMENT_MAX_LENGTH, 0);
    std::memcpy(longest.data(), good.data(), STATEMENT2_HEADER_LENGTH);
    longest[5] = 8;
    longest[6] = 3;
    Resign(longest, {KEY_A, KEY_B, KEY_C});
    ReleaseStatement statement;
    EXPECT_EQ(ParseStatement(longest.data(), longest.size(), STATEMENT_FORMAT_2, &statement), STATEMENT_OK);
    EXPECT_EQ(statement.recordCount, 8);
    EXPECT_EQ(statement.signatureCount, 3);
}

TEST(Statement, ChecksRunInTheirOrderAndStopAtTheFirstFailure)
{
    const Release release;
    const CatalogueFacts facts = release.Facts();
    constexpr size_t record1 = STATEMENT2_HEADER_LENGTH + STATEMENT_RECORD_LENGTH;
    constexpr size_t signatures = STATEMENT2_HEADER_LENGTH + 3 * STATEMENT_RECORD_LENGTH;
    const struct {
        const char* what;
        std::function<void(Bytes&)> change;
        int32_t code;
    } cases[] = {
        {"signed by key b", [](Bytes& s) { s = Release({KEY_B}).statement; }, STATEMENT_BAD_SIGNATURE},
        {"key a's id, key b's signature",
         [](Bytes& s) {
             uint8_t idA[RELEASE_KEY_ID_LENGTH];
             std::memcpy(idA, s.data() + signatures, sizeof idA);
             Resign(s, {KEY_B});
             std::memcpy(s.data() + signatures, idA, sizeof idA);
         },
         STATEMENT_BAD_SIGNATURE},
        {"one signature byte flipped", [](Bytes& s) { s.back() ^= 1; }, STATEMENT_BAD_SIGNATURE},
        {"a signed byte changed, not signed again", [](Bytes& s) { s[40] ^= 1; }, STATEMENT_BAD_SIGNATURE},
        {"expiry changed, not signed again", [](Bytes& s) { s[23] ^= 1; }, STATEMENT_BAD_SIGNATURE},
        {"serial changed, not signed again", [](Bytes& s) { s[15] ^= 1; }, STATEMENT_BAD_SIGNATURE},
        {"another model",
         [](Bytes& s) {
             std::memcpy(s.data() + 24, "M02B", 4);
             Resign(s);
         },
         STATEMENT_OTHER_MODEL},
        {"another model and another catalogue",
         [](Bytes& s) {
             std::memcpy(s.data() + 24, "M02B", 4);
             s[33] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_MODEL},
        {"catalogue length",
         [](Bytes& s) {
             s[31] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_CATALOGUE},
        {"catalogue hash",
         [](Bytes& s) {
             s[63] ^= 1;
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
             s.erase(s.begin() + signatures - STATEMENT_RECORD_LENGTH, s.begin() + signatures);
             s[5] = 2;
             Resign(s);
         },
         STATEMENT_OTHER_RECORDS},
        {"expired a second ago",
         [](Bytes& s) {
             WriteBigEndian64(s.data() + 16, NOW - 1);
             Resign(s);
         },
         STATEMENT_EXPIRED},
        {"expires this very second",
         [](Bytes& s) {
             WriteBigEndian64(s.data() + 16, NOW);
             Resign(s);
         },
         STATEMENT_EXPIRED},
        {"expired, and for another catalogue: the catalogue is told first",
         [](Bytes& s) {
             WriteBigEndian64(s.data() + 16, NOW - 1);
             s[63] ^= 1;
             Resign(s);
         },
         STATEMENT_OTHER_CATALOGUE},
        {"never expires",
         [](Bytes& s) {
             WriteBigEndian64(s.data() + 16, STATEMENT_NEVER_EXPIRES);
             Resign(s);
         },
         STATEMENT_OK},
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
    EXPECT_EQ(Check(release.statement, facts, "M01A", nullptr, {nullptr, 0, 1, STATEMENT_FORMAT_2, NOW}),
              STATEMENT_BAD_SIGNATURE);
    // A clock before 1970 reads as 1970.
    EXPECT_EQ(Check(release.statement, facts, "M01A", nullptr, {TrustA().keys, 1, 1, STATEMENT_FORMAT_2, -5}),
              STATEMENT_OK);
}

// With three trusted keys and a threshold of two, only two distinct trusted
// keys make a statement: a signature twice by one key, or by a key the
// client does not trust, adds nothing.
TEST(Statement, AThresholdCountsDistinctTrustedSigners)
{
    static const ReleaseKey keys[] = {TrustedKey(KEY_A), TrustedKey(KEY_B), TrustedKey(KEY_C)};
    const StatementTrust twoOfThree = {keys, 3, 2, STATEMENT_FORMAT_2, NOW};
    const StatementTrust twoOfAB = {keys, 2, 2, STATEMENT_FORMAT_2, NOW};
    const struct {
        const char* what;
        std::vector<std::string> signers;  // in the statement's order; a repeat is signed again under its id
        const StatementTrust& trust;
        int32_t code;
    } cases[] = {
        {"one valid signature", {KEY_A}, twoOfThree, STATEMENT_BAD_SIGNATURE},
        {"key a twice", {KEY_A, KEY_A}, twoOfThree, STATEMENT_BAD_SIGNATURE},
        {"key a three times", {KEY_A, KEY_A, KEY_A}, twoOfThree, STATEMENT_BAD_SIGNATURE},
        {"a and b", {KEY_A, KEY_B}, twoOfThree, STATEMENT_OK},
        {"c and a", {KEY_C, KEY_A}, twoOfThree, STATEMENT_OK},
        {"a, a and c", {KEY_A, KEY_A, KEY_C}, twoOfThree, STATEMENT_OK},
        {"a and an untrusted c", {KEY_A, KEY_C}, twoOfAB, STATEMENT_BAD_SIGNATURE},
        {"all three", {KEY_A, KEY_B, KEY_C}, twoOfThree, STATEMENT_OK},
    };
    const Release release;
    for (const auto& c : cases) {
        Bytes statement = release.statement;
        // One signature entry per signer, each signed again by its key.
        const size_t body = statement.size() - STATEMENT_SIGNATURE_ENTRY;
        statement.resize(body + c.signers.size() * STATEMENT_SIGNATURE_ENTRY);
        statement[6] = static_cast<uint8_t>(c.signers.size());
        Resign(statement, c.signers);
        EXPECT_EQ(Check(statement, release.Facts(), "M01A", nullptr, c.trust), c.code) << c.what;
    }
    // One bad signature among enough good ones does not refuse the statement.
    const Release three({KEY_A, KEY_B, KEY_C});
    Bytes statement = three.statement;
    statement.back() ^= 1;
    EXPECT_EQ(Check(statement, three.Facts(), "M01A", nullptr, twoOfThree), STATEMENT_OK);
    statement[statement.size() - 1 - STATEMENT_SIGNATURE_ENTRY] ^= 1;
    EXPECT_EQ(Check(statement, three.Facts(), "M01A", nullptr, twoOfThree), STATEMENT_BAD_SIGNATURE);
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
