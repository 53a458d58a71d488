#include "tools/ruvo-pack/pool_images_posix.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

#include <sys/stat.h>

#include "common/quoted.h"
#include "common/system_message.h"
#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/release_record_posix.h"

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// Writes the release's images into Pool/: a name that exists with the same
// bytes is left alone, one with other bytes is refused unless `replace`.
// `created` receives the names this call added, so a failed publish can
// take them back.
int WritePoolImages(const Store& store, const PublishInput& input, const PublishOptions& options,
                    const std::vector<unsigned>& serials, std::ostream& out, std::vector<std::string>* created,
                    std::string* error)
{
    std::vector<bool> present(input.images.size(), false);
    std::string conflicts;
    for (size_t i = 0; i < input.images.size(); ++i) {
        const PublishedImage& image = input.images[i];
        const std::string path = (fs::path(store.pool) / image.name).string();
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) continue;
            *error = "cannot examine " + Quoted(path) + ": " + SystemMessage(errno);
            return PACK_EXIT_IO;
        }
        Bytes existing;
        if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) == image.package.size() &&
            ReadWholeFile(path, IMAGE_PACKAGE_FILE_MAX, &existing, error) && existing == image.package) {
            present[i] = true;
            continue;
        }
        if (!S_ISREG(info.st_mode)) {
            *error = Quoted(path) + " exists and is not a regular file";
            return PACK_EXIT_IO;
        }
        std::string namedBy;
        for (unsigned serial : serials) {
            ReleaseInfo info;
            std::string ignored;  // the names were checked before anything was written
            ReadReleaseInfo(store.ReleaseDir(serial), &info, &ignored);
            if (info.images.count(image.name)) {
                namedBy += (namedBy.empty() ? "" : ", ") + SerialName(serial);
            }
        }
        conflicts += "\n  " + path + " (" + std::to_string(info.st_size) + " bytes" +
                     (namedBy.empty() ? "" : ", named by release " + namedBy) + ")";
    }
    if (!conflicts.empty()) {
        if (!options.replace) {
            *error = "these image names exist with other bytes, and a published image is never rewritten:" + conflicts +
                     "\ngive the new images new names, or give --replace (a device that read the live catalogue "
                     "fetches the new bytes under the old record and refuses them, and every release naming them "
                     "fails the check)";
            return PACK_EXIT_BAD_INPUT;
        }
        out << "replacing (--replace): devices that read the live catalogue refuse these now, and older releases "
               "naming them no longer pass the check:"
            << conflicts << "\n";
    }
    for (size_t i = 0; i < input.images.size(); ++i) {
        const PublishedImage& image = input.images[i];
        const std::string path = (fs::path(store.pool) / image.name).string();
        if (present[i]) {
            out << path << ": image \"" << PackageIdOfName(image.name) << "\", " << image.package.size()
                << " bytes, unchanged\n";
            continue;
        }
        std::error_code code;
        const bool existed = fs::symlink_status(path, code).type() != fs::file_type::not_found;
        if (!WriteWholeFile(path, image.package, error)) return PACK_EXIT_IO;
        if (!existed) created->push_back(image.name);
        out << path << ": image \"" << PackageIdOfName(image.name) << "\", " << image.package.size() << " bytes\n";
    }
    return PACK_EXIT_OK;
}

// After a swap: drops all but the newest `keep` releases (never the live
// one), then the Pool images only dropped releases named. Images are removed
// in the open Pool folder by name, never through a path; when a recorded name
// is no Pool name nothing is pruned, and the line says why.
void PruneReleases(const Store& store, const COpenFolder& pool, unsigned live, unsigned keep, std::ostream& out)
{
    const std::vector<unsigned> serials = ReleaseSerials(store);
    std::vector<unsigned> dropped;
    for (size_t i = 0; i < serials.size(); ++i) {
        if (serials.size() - i > keep && serials[i] != live) dropped.push_back(serials[i]);
    }
    DropReleases(store, pool, live, dropped, "keeping " + std::to_string(keep), out);
}

void DropReleases(const Store& store, const COpenFolder& pool, unsigned live, const std::vector<unsigned>& drop,
                  const std::string& why, std::ostream& out)
{
    std::vector<unsigned> dropped, kept;
    for (unsigned serial : ReleaseSerials(store)) {
        const bool goes = serial != live && std::find(drop.begin(), drop.end(), serial) != drop.end();
        (goes ? dropped : kept).push_back(serial);
    }
    if (dropped.empty()) return;
    std::set<std::string> candidates, named, inDoor;
    std::string error;
    ReleaseInfo info;
    for (unsigned serial : dropped) {
        if (!ReadReleaseInfo(store.ReleaseDir(serial), &info, &error)) break;
        candidates.insert(info.images.begin(), info.images.end());
    }
    for (size_t i = 0; error.empty() && i < kept.size(); ++i) {
        if (!ReadReleaseInfo(store.ReleaseDir(kept[i]), &info, &error)) break;
        named.insert(info.images.begin(), info.images.end());
        if (!NamesInDoor(store.ReleaseDoor(kept[i]), &inDoor, &error)) break;
        named.insert(inDoor.begin(), inDoor.end());
    }
    if (!error.empty()) {
        out << "nothing pruned: " << error << "\n";
        return;
    }
    // Images first: a release folder whose images are gone is still listed
    // and pruned again next time, an image no release lists would stay forever.
    for (const std::string& name : candidates) {
        if (named.count(name)) continue;
        if (pool.RemoveFile(name, &error)) out << pool.PathOf(name) << ": removed (no kept release names it)\n";
    }
    for (unsigned serial : dropped) {
        std::error_code code;
        fs::remove_all(store.ReleaseDir(serial), code);
        if (!code) out << store.ReleaseDir(serial) << ": removed (" << why << ")\n";
    }
}

// Removes the Pool files a failed publish added.
void TakeBack(const COpenFolder& pool, const std::vector<std::string>& created)
{
    std::string ignored;
    for (const std::string& name : created) pool.RemoveFile(name, &ignored);
}
