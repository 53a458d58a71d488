#include "tools/ruvo-pack/release_serial_posix.h"

#include <algorithm>

#include "tools/ruvo-pack/statement_file.h"

bool NextReleaseSerial(const Store& store, const std::vector<std::string>& models, unsigned* serial, std::string* error)
{
    const std::vector<unsigned> releases = ReleaseSerials(store);
    uint64_t highest = releases.empty() ? 0 : releases.back();
    std::vector<std::string> doors = {store.door};
    for (unsigned release : releases) doors.push_back(store.ReleaseDoor(release));
    for (const std::string& door : doors) {
        for (const std::string& model : models) {
            const DoorStatementTerms terms = ReadStatementTerms(door, model);
            if (terms.readable) highest = std::max(highest, terms.serial);
        }
    }
    if (highest >= MAX_RELEASE_SERIAL) {
        *error = "the next serial would be " + std::to_string(highest + 1) + ", past the " +
                 std::to_string(MAX_RELEASE_SERIAL) + " that release folders are numbered up to";
        return false;
    }
    *serial = static_cast<unsigned>(highest + 1);
    return true;
}
