#include "cli/public_key_file.h"

#include <filesystem>
#include <fstream>

#include "update/public_key_pem.h"

namespace {

constexpr std::uintmax_t KEY_FILE_LIMIT = 64 * 1024;  // a PEM key is a few hundred bytes

}  // namespace

bool ReadPublicKeyFile(const std::string& path, uint8_t (&point)[P256_POINT_LENGTH], std::string& error)
{
    // Only a bounded regular file is opened: a FIFO would block the run.
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) {
        error = "key file \"" + path + "\" is missing or not a regular file";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, code);
    if (code || size > KEY_FILE_LIMIT) {
        error = "\"" + path + "\" is too large for a key file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::string pem(static_cast<size_t>(size), '\0');
    if (!file.read(&pem[0], static_cast<std::streamsize>(size))) {
        error = "cannot read key file \"" + path + "\"";
        return false;
    }
    std::string reason;
    if (PublicKeyFromPem(pem, point, &reason)) return true;
    error = "\"" + path + "\" " + reason;
    return false;
}
