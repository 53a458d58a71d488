#include "update/server_layout.h"

#include <cstdio>

namespace {

const char* FolderOf(ServerFile file)
{
    return file == ServerFile::IMAGE ? "Pool/" : "Door/";
}

const char* SuffixOf(ServerFile file)
{
    switch (file) {
    case ServerFile::CATALOGUE: return ".Bin";
    case ServerFile::STATEMENT: return ".Sig";
    case ServerFile::STATEMENT2: return ".Sig2";
    default: return "";
    }
}

}  // namespace

bool FormatServerPath(char* out, size_t capacity, const char* base, ServerFile file, const char* name)
{
    const int length = std::snprintf(out, capacity, "%s%s%s%s", base, FolderOf(file), name, SuffixOf(file));
    return length >= 0 && static_cast<size_t>(length) < capacity;
}

std::string ServerPath(const std::string& base, ServerFile file, const char* name)
{
    const size_t capacity = base.size() + std::char_traits<char>::length(name) + sizeof "Door/.Sig2";
    std::string path(capacity, '\0');
    FormatServerPath(&path[0], capacity, base.c_str(), file, name);
    path.resize(std::char_traits<char>::length(path.c_str()));
    return path;
}

std::string ServerFileName(ServerFile file, const char* name)
{
    return std::string(name) + SuffixOf(file);
}

void ImagePackageId(const char* name, char (&id)[PACKAGE_ID_LENGTH + 1])
{
    size_t length = 0;
    const size_t skipped = name[0] == '\0' ? 0 : name[1] == '\0' ? 1 : 2;
    for (const char* at = name + skipped; length < PACKAGE_ID_LENGTH && at[length] != '\0'; ++length)
        id[length] = at[length];
    for (size_t i = length; i <= PACKAGE_ID_LENGTH; ++i) id[i] = '\0';
}
