// The update of a signed build, in-process: every download must be the very
// file the release statement names before anything reaches the device.
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

const std::wstring DOWNLOADING = L"下載更新檔中...";

class SignedUpdateTest : public ::testing::Test {
protected:
    void SetUp() override { SetUpWithDevice(SimulatorOptions()); }

    void SetUpWithDevice(const SimulatorOptions& options)
    {
        SetUpWorkerControls(m_button.Handle());
        std::memset(&g_releaseStatement, 0, sizeof g_releaseStatement);
        ConnectSimulatedDevice(L"signed", m_sim, options);
    }

    std::string PoolPath(const char* name) const { return std::string(UPDATE_TEST_POOL) + "\\" + name; }

    // Publishes an image package as catalogue entry `index` and records it
    // in the statement identification would have checked. `stem` is the
    // file's kind and package id; the file name adds this process's id, as
    // the tests run in parallel processes on one server and some spoil what
    // they serve.
    void Publish(int index, const char* stem, uint32_t firstBlock, size_t firmwareSize)
    {
        const std::string file = std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + ".bin";
        const char* name = file.c_str();
        Bytes& firmware = m_firmware[index];
        firmware.resize(firmwareSize);
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

    // Entry 0 from block 0 (one full block and a tail), entry 1 from block 16
    // (a tail only).
    void PublishTwoImages()
    {
        Publish(0, "BTS122", 0, 4096 + 300);
        Publish(1, "BVSABD", 16, 700);
    }

    bool FlashHolds(int index, uint32_t firstBlock)
    {
        bool same = false;
        m_sim->server->WithDevice([&](SimulatedDevice& device) {
            same = std::memcmp(device.Flash() + size_t(firstBlock) * FLASH_BLOCK_SIZE, m_firmware[index].data(),
                               m_firmware[index].size()) == 0;
        });
        return same;
    }

    std::vector<std::string> Lines(const char* prefix)
    {
        std::vector<std::string> lines;
        for (const std::string& line : m_sim->Log())
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        return lines;
    }

    void ExpectOneErrorBox(const std::wstring& text)
    {
        ASSERT_EQ(g_platform.boxes.size(), 1u);
        EXPECT_EQ(g_platform.boxes[0].text, text);
        EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_RUNTIME_ERROR);
        EXPECT_EQ(g_platform.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(g_platform.processEnded);
    }

    ButtonRecorder m_button;
    std::unique_ptr<SimDevice> m_sim;
    Bytes m_firmware[MAX_CATALOGUE_ENTRIES];
};

TEST_F(SignedUpdateTest, EveryImageIsFetchedFirstThenEachIsProgrammedInTableOrder)
{
    PublishTwoImages();
    RunWorker(UpdateThread);

    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].caption, CAPTION_UPDATE_DONE);
    const std::vector<std::wstring> texts = {
        DOWNLOADING,          DOWNLOADING, L"[     2 ]",          L"T -     1 -",      L"Verify T -     1 -",
        L"Verify T Complete!", L"[     1 ]", L"Verify V Complete!", L"- 更 新 完 成 -",
    };
    EXPECT_EQ(m_button.Texts(), texts);
    EXPECT_EQ(Lines("ERASE"), (std::vector<std::string>{"ERASE 0", "ERASE 1", "ERASE 16"}));
    EXPECT_TRUE(FlashHolds(0, 0));
    EXPECT_TRUE(FlashHolds(1, 16));
    EXPECT_EQ(g_platform.buffersHeld, 0);
}

// A refusal of any image, before or after another was accepted, ends the
// update before the device is told anything, and every buffer is released.
enum class Spoil { IMAGE0_CHANGED, IMAGE1_CHANGED, IMAGE1_ONE_BYTE_LONGER, IMAGE1_WITHOUT_BUFFER };

struct RefusalCase {
    const char* name;
    Spoil spoil;
    const wchar_t* box;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

class SignedRefusal : public SignedUpdateTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SignedRefusal, LeavesTheDeviceUntouched)
{
    PublishTwoImages();
    const Spoil spoil = GetParam().spoil;
    if (spoil == Spoil::IMAGE1_WITHOUT_BUFFER) {
        g_platform.allocationsAllowed = 1;
    } else {
        const std::string path = PoolPath(g_app.catalogue[spoil == Spoil::IMAGE0_CHANGED ? 0 : 1].name);
        Bytes served = ReadFile(path);
        if (spoil == Spoil::IMAGE1_ONE_BYTE_LONGER) {
            served.push_back(0xFF);
        } else {
            served[100] ^= 0x01;  // a firmware byte; the check never gets to the sums
        }
        WriteFile(path, served);
    }

    RunWorker(UpdateThread);

    ExpectOneErrorBox(GetParam().box);
    EXPECT_EQ(m_sim->Log(), std::vector<std::string>{});
    EXPECT_EQ(g_platform.buffersHeld, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedRefusal,
    ::testing::Values(RefusalCase{"Image0Changed", Spoil::IMAGE0_CHANGED, L"錯誤碼: 0404+ 0"},
                      RefusalCase{"Image1Changed", Spoil::IMAGE1_CHANGED, L"錯誤碼: 0404+ 1"},
                      RefusalCase{"Image1OneByteLonger", Spoil::IMAGE1_ONE_BYTE_LONGER, L"錯誤碼: 0404+ 1"},
                      RefusalCase{"Image1WithoutBuffer", Spoil::IMAGE1_WITHOUT_BUFFER, L"錯誤碼: 0401+ 1"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// Image 0 reads back wrong while image 1 waits in its buffer: the same 0403
// box, image 1 never begun, and its buffer released too.
class SignedMismatch : public SignedUpdateTest {
protected:
    void SetUp() override
    {
        SimulatorOptions options;
        options.corruptReadBack = true;
        options.corruptOffset = 10;
        SetUpWithDevice(options);
    }
};

TEST_F(SignedMismatch, AnImageThatReadsBackWrongEndsTheUpdateWithNothingHeld)
{
    PublishTwoImages();
    RunWorker(UpdateThread);

    ASSERT_EQ(g_platform.boxes.size(), 1u);
    EXPECT_EQ(g_platform.boxes[0].text.rfind(L"錯誤碼: 0403+ 0\n", 0), 0u) << g_platform.boxes[0].text;
    EXPECT_TRUE(g_platform.processEnded);
    EXPECT_EQ(Lines("TEST C5B484A1").size(), 1u);
    EXPECT_EQ(Lines("ERASE"), (std::vector<std::string>{"ERASE 0", "ERASE 1"}));
    EXPECT_EQ(g_platform.buffersHeld, 0);
}

TEST_F(SignedUpdateTest, AFailedDownloadKeepsItsOwnBoxAndThe0402Box)
{
    Publish(0, "BTS122", 0, 700);
    g_platform.failInternetOpen = true;
    RunWorker(UpdateThread);
    ASSERT_EQ(g_platform.boxes.size(), 2u);
    EXPECT_EQ(g_platform.boxes[0].text, TEXT_NOT_CONNECTED);
    EXPECT_EQ(g_platform.boxes[1].text.rfind(L"錯誤碼: 0402 ", 0), 0u);
    EXPECT_TRUE(m_sim->Log().empty());
    EXPECT_EQ(g_platform.buffersHeld, 0);
}

}  // namespace
