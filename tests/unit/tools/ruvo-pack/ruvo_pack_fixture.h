#pragma once
// Scratch folder and in-process runs of ruvo-pack for its tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/ruvo-pack/cli.h"
#include "tools/ruvo-pack/files.h"
#include "tests/support/package_fixtures.h"

// A scratch folder per test, removed afterwards.
class RuvoPackCli : public ::testing::Test {
protected:
    std::filesystem::path dir;

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("ruvo-pack-test-" + std::string(info->name()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    void Write(const std::string& name, const Bytes& bytes) const
    {
        std::string error;
        ASSERT_TRUE(WriteWholeFile(Path(name), bytes, &error)) << error;
    }

    Bytes Read(const std::string& path) const
    {
        Bytes bytes;
        std::string error;
        EXPECT_TRUE(ReadWholeFile(path, IMAGE_PACKAGE_FILE_MAX, &bytes, &error)) << error;
        return bytes;
    }

    struct Run {
        int exitCode;
        std::string out, err;
    };
    Run Pack(const std::vector<std::string>& args) const
    {
        std::ostringstream out, err;
        const int code = RunRuvoPack(args, out, err);
        return {code, out.str(), err.str()};
    }

    static Bytes Firmware(size_t length, uint8_t seed)
    {
        Bytes bytes(length);
        for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 31);
        return bytes;
    }
};
