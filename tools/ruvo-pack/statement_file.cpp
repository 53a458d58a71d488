#include "tools/ruvo-pack/statement_file.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/utc_time.h"
#include "tools/ruvo-pack/files.h"
#include "update/release_statement.h"
#include "update/server_layout.h"

namespace fs = std::filesystem;

namespace {

// 9999-12-31T23:59:59Z: past it the text form has no fifth digit to spare.
constexpr uint64_t LAST_PRINTABLE_SECOND = 253402300799ull;

bool IsRegularFile(const std::string& path)
{
    std::error_code code;
    return fs::symlink_status(path, code).type() == fs::file_type::regular;
}

}  // namespace

DoorStatementTerms ReadStatementTerms(const std::string& doorDir, const std::string& model)
{
    DoorStatementTerms terms;
    const std::string path = (fs::path(doorDir) / ServerFileName(ServerFile::STATEMENT2, model.c_str())).string();
    if (!IsRegularFile(path)) return terms;
    terms.present = true;
    std::vector<uint8_t> bytes;
    std::string ignored;
    ReleaseStatement statement;
    if (!ReadWholeFile(path, STATEMENT_MAX_LENGTH, &bytes, &ignored) ||
        ParseStatement(bytes.data(), bytes.size(), STATEMENT_FORMAT_2, &statement) != STATEMENT_OK)
        return terms;
    terms.readable = true;
    terms.serial = statement.serial;
    terms.expires = statement.expires;
    return terms;
}

bool HasFormat1Statement(const std::string& doorDir, const std::string& model)
{
    return IsRegularFile((fs::path(doorDir) / ServerFileName(ServerFile::STATEMENT, model.c_str())).string());
}

std::string ExpiryText(uint64_t expires)
{
    if (expires == STATEMENT_NEVER_EXPIRES) return "never";
    if (expires > LAST_PRINTABLE_SECOND) return std::to_string(expires) + " s after 1970";
    return UtcTimeStamp(static_cast<std::time_t>(expires));
}

std::string TermsText(uint64_t serial, uint64_t expires)
{
    return "serial " + std::to_string(serial) + ", expires " + ExpiryText(expires);
}
