// Whole-file I/O with messages that name the file.
#include "files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open \"" + path + "\" for reading";
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "cannot read \"" + path + "\"";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code code;
    if (!parent.empty()) std::filesystem::create_directories(parent, code);
    if (code) {
        *error = "cannot create folder \"" + parent.string() + "\": " + code.message();
        return false;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        *error = "cannot write \"" + path + "\"";
        return false;
    }
    return true;
}
