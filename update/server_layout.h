#pragma once
// Where a release lies under the update server's base URL, and the names
// taken from it. Every updater and the publisher's checks build their paths
// here: Door/<model>.Bin the catalogue, Door/<model>.Sig2 its release
// statement (Door/<model>.Sig in the first format, which updaters that know
// the second never read), Pool/<name> each image package.
#include <cstddef>
#include <string>

enum class ServerFile { CATALOGUE, STATEMENT, STATEMENT2, IMAGE };

// `base` (ending in '/') followed by the file's path; `name` is the model id
// for the Door files and the image's file name for the Pool. Writes at most
// `capacity` bytes, always terminated; false when the path was cut.
bool FormatServerPath(char* out, size_t capacity, const char* base, ServerFile file, const char* name);
std::string ServerPath(const std::string& base, ServerFile file, const char* name);

// The file's name in its folder ("D220.Bin", "BTD222.bin"), for the
// publisher, whose folders may be staged apart.
std::string ServerFileName(ServerFile file, const char* name);

// An image's package id is characters 2 to 5 of its file name ("BTR122.bin"
// gives "R122"). `name` holds at least those characters or ends before
// them: the id is then as much as there is.
constexpr size_t PACKAGE_ID_LENGTH = 4;
void ImagePackageId(const char* name, char (&id)[PACKAGE_ID_LENGTH + 1]);
