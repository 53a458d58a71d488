// The update of a signed build, in-process: each download must be the very
// file the release statement names before anything of it reaches the device.
// Also the CNG back end of the crypto interface under Wine, against a
// statement that OpenSSL signed with the test-only key a.
#include "button_recorder.h"
#include "worker_stage.h"

#include "device/hid_cmd.h"
#include "shell/app_state.h"
#include "shell/messages.h"
#include "tests/support/sha256_cases.h"
#include "update/package_builder.h"
#include "update/release_keys.h"
#include "shell/signed_release.h"
#include "shell/update_threads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

static_assert(SIGNED_RELEASES, "this test is built with the test-only key a");

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

TEST(CngSha256, MatchesTheStandardVectorsAndIsTheSameInAnyChunking)
{
    ExpectSha256OfStandardVectorsInAnyChunking();
}

TEST(CngVerifyP256, AcceptsTheSignatureOpenSslMadeAndNothingElse)
{
    const Bytes statement = ReadFile(SIGNED_STATEMENT_SEED);
    ReleaseStatement parsed;
    ASSERT_EQ(ParseStatement(statement.data(), statement.size(), STATEMENT_FORMAT_2, &parsed), STATEMENT_OK);
    ASSERT_EQ(parsed.signatureCount, 1);
    ASSERT_EQ(0, std::memcmp(parsed.signatures[0].keyId, RELEASE_KEYS[0].keyId, RELEASE_KEY_ID_LENGTH));
    uint8_t hash[SHA256_LENGTH];
    ASSERT_TRUE(Sha256(statement.data(), statement.size() - STATEMENT_SIGNATURE_ENTRY, hash));
    uint8_t(&signature)[P256_SIGNATURE_LENGTH] = parsed.signatures[0].signature;
    EXPECT_TRUE(VerifyP256(RELEASE_KEYS[0].point, hash, signature));

    signature[5] ^= 1;
    EXPECT_FALSE(VerifyP256(RELEASE_KEYS[0].point, hash, signature));
    signature[5] ^= 1;
    hash[31] ^= 1;
    EXPECT_FALSE(VerifyP256(RELEASE_KEYS[0].point, hash, signature));
    hash[31] ^= 1;
    uint8_t offCurve[P256_POINT_LENGTH];
    std::memcpy(offCurve, RELEASE_KEYS[0].point, sizeof offCurve);
    offCurve[63] ^= 1;
    EXPECT_FALSE(VerifyP256(offCurve, hash, signature));
}

class SignedUpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetUpWorkerControls(m_button.Handle());
        std::memset(&g_releaseStatement, 0, sizeof g_releaseStatement);
        ConnectSimulatedDevice(L"signed", m_sim);
    }

    std::string PoolPath(const char* name) const { return std::string(UPDATE_TEST_POOL) + "\\" + name; }

    // Publishes an image package as catalogue entry `index` and records it
    // in the statement identification would have checked.
    void Publish(int index, const char* name, uint32_t firstBlock, size_t firmwareSize)
    {
        Bytes firmware(firmwareSize);
        for (size_t i = 0; i < firmwareSize; ++i) firmware[i] = static_cast<uint8_t>(i * (index + 5));
        Bytes package;
        std::string error;
        ASSERT_TRUE(BuildImagePackage(std::string(name + 2, 4).c_str(), firstBlock, firmware, &package, &error))
            << error;
        WriteFile(PoolPath(name), package);
        std::strcpy(g_app.catalogue[index].name, name);
        g_app.catalogue[index].size = static_cast<int32_t>(package.size());
        if (g_app.catalogueCount <= index) g_app.catalogueCount = index + 1;
        StatementRecord& record = g_releaseStatement.records[index];
        std::strcpy(record.name, name);
        record.size = static_cast<uint32_t>(package.size());
        ASSERT_TRUE(Sha256(package.data(), package.size(), record.sha256));
        if (g_releaseStatement.recordCount <= index) g_releaseStatement.recordCount = index + 1;
    }

    int ImagesBegun() const
    {
        int images = 0;
        for (const std::string& line : m_sim->Log()) images += line.rfind("TEST C5B484A1", 0) == 0;
        return images;
    }

    // Publishes entries 0 and 1, changes what the server holds for `entry`
    // (one firmware byte, or one byte more) and runs the update.
    void RunWithServedFileChanged(int entry, bool longer)
    {
        Publish(0, "BTS122.bin", 0, 4096 + 300);
        Publish(1, "BVSABD.bin", 16, 700);
        const std::string path = PoolPath(g_app.catalogue[entry].name);
        Bytes served = ReadFile(path);
        if (longer) {
            served.push_back(0xFF);
        } else {
            served[100] ^= 0x01;  // a firmware byte; the check never gets to the sums
        }
        WriteFile(path, served);
        RunWorker(UpdateThread);
    }

    void ExpectRefusal(const wchar_t* text)
    {
        ASSERT_EQ(g_platform.boxes.size(), 1u);
        EXPECT_EQ(g_platform.boxes[0].text, text);
        EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_RUNTIME_ERROR);
        EXPECT_EQ(g_platform.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(g_platform.processEnded);
    }

    // No block of image 1 (blocks 16 on) was erased or written.
    void ExpectImage1Untouched()
    {
        for (const std::string& line : m_sim->Log()) {
            EXPECT_NE(line, "ERASE 16");
            EXPECT_NE(line.rfind("WRITE 256", 0), 0u) << line;
        }
    }

    ButtonRecorder m_button;
    std::unique_ptr<SimDevice> m_sim;
};

TEST_F(SignedUpdateTest, TheSignedFilesAreProgrammed)
{
    Publish(0, "BTS122.bin", 0, 4096 + 300);
    Publish(1, "BVSABD.bin", 16, 700);
    RunWorker(UpdateThread);
    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_UPDATE_DONE);
    EXPECT_EQ(ImagesBegun(), 2);
}

TEST_F(SignedUpdateTest, AChangedImage0IsRefusedBeforeTheDeviceIsTouched)
{
    RunWithServedFileChanged(0, false);
    ExpectRefusal(L"錯誤碼: 0404+ 0");
    EXPECT_TRUE(m_sim->Log().empty());
}

TEST_F(SignedUpdateTest, AChangedImage1IsRefusedAfterImage0BeforeAnyOfItsBlocksIsErased)
{
    RunWithServedFileChanged(1, false);
    ExpectRefusal(L"錯誤碼: 0404+ 1");
    EXPECT_EQ(ImagesBegun(), 1);
    ExpectImage1Untouched();
}

TEST_F(SignedUpdateTest, AnImageOneByteLongerIsRefused)
{
    RunWithServedFileChanged(1, true);
    ExpectRefusal(L"錯誤碼: 0404+ 1");
    ExpectImage1Untouched();
}

TEST_F(SignedUpdateTest, AFailedDownloadKeepsItsOwnBoxAndThe0402Box)
{
    Publish(0, "BTS122.bin", 0, 700);
    g_platform.failInternetOpen = true;
    RunWorker(UpdateThread);
    ASSERT_EQ(g_platform.boxes.size(), 2u);
    EXPECT_EQ(g_platform.boxes[0].text, TEXT_NOT_CONNECTED);
    EXPECT_EQ(g_platform.boxes[1].text.rfind(L"錯誤碼: 0402 ", 0), 0u);
    EXPECT_TRUE(m_sim->Log().empty());
}

}  // namespace
