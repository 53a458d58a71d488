// Manifest parsing and the naming rules of a release.
#include "tools/ruvo-pack/release.h"

#include <cctype>
#include <set>
#include <sstream>

#include "common/bytes.h"
#include "tools/common/numbers.h"
#include "update/catalogue.h"
#include "update/server_layout.h"
#include "tools/ruvo-pack/utf.h"

namespace {

constexpr size_t MIN_NAME_LENGTH = 6;  // characters 2-5 carry the package id

bool IsSafeCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Splits off the next blank-separated word of `rest`.
std::string NextWord(std::string* rest)
{
    const std::string text = Trim(*rest);
    const size_t end = text.find_first_of(" \t");
    *rest = end == std::string::npos ? "" : text.substr(end);
    return text.substr(0, end);
}

bool Fail(std::string* error, int line, const std::string& message)
{
    *error = std::to_string(line) + ": " + message;
    return false;
}

}  // namespace

std::string PackageIdOfName(const std::string& name)
{
    char id[PACKAGE_ID_LENGTH + 1];
    ImagePackageId(name.c_str(), id);
    return id;
}

bool CheckPackageIdText(const std::string& id, const std::string& what, std::string* error)
{
    bool safe = id.size() == 4;
    for (char c : id) safe = safe && IsSafeCharacter(c);
    if (!safe) {
        *error = what + " \"" + EscapeForMessage(id) + "\" must be exactly 4 characters from A-Z a-z 0-9 . _ -";
        return false;
    }
    return true;
}

bool CheckPoolName(const std::string& name, std::string* error)
{
    if (name.size() < MIN_NAME_LENGTH || name.size() > static_cast<size_t>(CATALOGUE_NAME_MAX)) {
        *error =
            "name \"" + EscapeForMessage(name) + "\" must have 6 to 31 characters (characters 2-5 are the package id)";
        return false;
    }
    for (char c : name) {
        if (!IsSafeCharacter(c)) {
            *error = "name \"" + EscapeForMessage(name) +
                     "\" may only use A-Z a-z 0-9 . _ - (it is a file name and part of a URL)";
            return false;
        }
    }
    if (name[0] == '.' || name.find("..") != std::string::npos) {
        *error = "name \"" + name + "\" may not start with '.' or contain \"..\" (it is a plain file under Pool/)";
        return false;
    }
    return true;
}

bool CheckRecordNames(const std::vector<std::string>& names, std::string* error)
{
    if (names.size() > static_cast<size_t>(MAX_CATALOGUE_ENTRIES)) {
        *error = "a catalogue has at most " + std::to_string(MAX_CATALOGUE_ENTRIES) + " records, this one " +
                 std::to_string(names.size());
        return false;
    }
    std::set<std::string> seen;
    for (const std::string& name : names) {
        if (!CheckPoolName(name, error)) return false;
        if (!seen.insert(Lower(name)).second) {
            *error = "name \"" + name + "\" appears twice (names are compared ignoring case)";
            return false;
        }
    }
    if (!names.empty() && !(HexDigit(names[0][4]) >= 0 && HexDigit(names[0][5]) >= 0)) {
        *error = "record 0 \"" + names[0] + "\" must carry its version as two hex digits in characters 4-5";
        return false;
    }
    return true;
}

bool DescriptionFromUtf8(const std::string& utf8, std::u16string* description, std::string* error)
{
    std::u16string units;
    if (!Utf8ToUtf16(utf8, &units)) {
        *error = "description \"" + EscapeForMessage(utf8) + "\" is not valid UTF-8";
        return false;
    }
    for (char16_t unit : units) {
        if (unit < 0x20 || unit == 0x7F) {
            *error = "description \"" + EscapeForMessage(utf8) + "\" contains a control character";
            return false;
        }
    }
    if (units.size() > static_cast<size_t>(CATALOGUE_DESCRIPTION_MAX)) {
        *error = "description \"" + utf8 + "\" is " + std::to_string(units.size()) +
                 " UTF-16 code units long; the option list takes at most " + std::to_string(CATALOGUE_DESCRIPTION_MAX);
        return false;
    }
    *description = std::move(units);
    return true;
}

bool ParseManifest(const std::string& text, const std::string& baseDir, Release* release, std::string* error)
{
    Release result;
    bool haveModel = false;
    bool haveStatus = false;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // BOM of some editors
        std::string rest = line;
        const std::string keyword = NextWord(&rest);
        if (keyword.empty() || keyword[0] == '#') continue;

        if (keyword == "model") {
            if (haveModel) return Fail(error, number, "a second \"model\" line");
            result.model = NextWord(&rest);
            if (!Trim(rest).empty()) return Fail(error, number, "\"model\" takes one word");
            std::string message;
            if (!CheckPackageIdText(result.model, "model id", &message)) return Fail(error, number, message);
            haveModel = true;
        } else if (keyword == "status") {
            if (haveStatus) return Fail(error, number, "a second \"status\" line");
            uint32_t status = 0;
            if (!ParseNumber(NextWord(&rest), 255u, status) || !Trim(rest).empty()) {
                return Fail(error, number, "\"status\" takes one number from 0 to 255");
            }
            result.status = static_cast<uint8_t>(status);
            haveStatus = true;
        } else if (keyword == "image") {
            ReleaseImage image;
            image.line = number;
            image.name = NextWord(&rest);
            const std::string block = NextWord(&rest);
            image.firmwarePath = NextWord(&rest);
            if (image.firmwarePath.empty()) {
                return Fail(error, number, "\"image\" takes a name, a first block, a firmware file and a description");
            }
            if (!ParseNumber(block, 65535u, image.firstBlock)) {
                return Fail(error, number, "first block \"" + block + "\" is not a number from 0 to 65535");
            }
            if (!baseDir.empty() && image.firmwarePath[0] != '/' && image.firmwarePath[0] != '\\' &&
                !(image.firmwarePath.size() > 1 && image.firmwarePath[1] == ':')) {
                image.firmwarePath = baseDir + "/" + image.firmwarePath;
            }
            std::string message;
            if (!DescriptionFromUtf8(Trim(rest), &image.description, &message)) return Fail(error, number, message);
            result.images.push_back(std::move(image));
        } else {
            return Fail(error, number,
                        "unknown keyword \"" + EscapeForMessage(keyword) + "\" (expected model, status or image)");
        }
    }
    if (!haveModel) return Fail(error, number, "the manifest names no model (a line \"model XXXX\")");

    std::vector<std::string> names;
    for (const ReleaseImage& image : result.images) names.push_back(image.name);
    std::string message;
    if (!CheckRecordNames(names, &message)) {
        for (const ReleaseImage& image : result.images) {
            if (message.find("\"" + EscapeForMessage(image.name) + "\"") != std::string::npos)
                return Fail(error, image.line, message);
        }
        return Fail(error, number, message);
    }
    *release = std::move(result);
    return true;
}
