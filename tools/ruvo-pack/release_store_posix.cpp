// Publishing, listing and rolling back releases in a server folder.
#include "tools/ruvo-pack/release_store.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "common/quoted.h"
#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/pool_images_posix.h"
#include "tools/ruvo-pack/publish_lock_posix.h"
#include "tools/ruvo-pack/release_record_posix.h"
#include "tools/ruvo-pack/server_folder_posix.h"
#include "tools/ruvo-pack/staged_release_posix.h"

namespace fs = std::filesystem;

namespace {

// A publish without a statement of its model over a live release with one
// would silently unsign the model: refused (exit 3) unless --unsigned.
int CheckStaysSigned(const Store& store, const PublishInput& input, const ReleaseTrust& trust, std::ostream& out,
                     std::string* error)
{
    const std::string statement = input.model + ".Sig";
    for (const auto& file : input.doorFiles) {
        if (file.first == statement) return PACK_EXIT_OK;
    }
    std::error_code code;
    const std::string live = (fs::path(store.door) / statement).string();
    if (fs::symlink_status(live, code).type() == fs::file_type::not_found) return PACK_EXIT_OK;
    if (!trust.allowUnsigned) {
        *error = "the live release of model " + input.model + " is signed (" + live +
                 ") and this publish is not: signed updaters would refuse it; sign it with --sign KEY.pem, or give "
                 "--unsigned to publish it unsigned anyway; nothing was written";
        return PACK_EXIT_BAD_INPUT;
    }
    out << "--unsigned: the live release of model " << input.model
        << " is signed, this one is not; signed updaters refuse it\n";
    return PACK_EXIT_OK;
}

}  // namespace

int PublishRelease(const std::string& outDir, const PublishInput& input, const PublishOptions& options,
                   std::ostream& out, std::string* error)
{
    const Store store(outDir);
    if (!MakeFolder(store.outDir, error)) return PACK_EXIT_IO;
    CPublishLock lock;
    const int locked = lock.Acquire(store.lock, error);
    if (locked != PACK_EXIT_OK) return locked;
    if (!MakeFolder(store.pool, error) || !MakeFolder(store.releases, error)) return PACK_EXIT_IO;
    COpenFolder pool;
    if (!pool.Open(store.pool, error)) return PACK_EXIT_IO;
    RemoveLeftovers(store);

    DoorKind kind;
    unsigned live = 0;
    int result = ReadLiveDoor(store, &kind, &live, error);
    if (result != PACK_EXIT_OK) return result;
    std::vector<unsigned> serials = ReleaseSerials(store);
    if (!CheckRecordedNames(store, serials, error)) {
        *error += "; nothing was written";
        return PACK_EXIT_BAD_INPUT;
    }
    result = CheckStaysSigned(store, input, options.trust, out, error);
    if (result != PACK_EXIT_OK) return result;
    unsigned next = serials.empty() ? 1 : serials.back() + 1;
    if (kind == DoorKind::FOLDER) {
        result = MigrateDoorFolder(store, next, out, error);
        if (result != PACK_EXIT_OK) return result;
        std::error_code code;
        if (fs::is_symlink(store.door, code)) {
            kind = DoorKind::LINK;
            live = next++;
            serials.push_back(live);
        } else {
            kind = DoorKind::NONE;
        }
    }

    std::vector<std::string> created;
    result = WritePoolImages(store, input, options, serials, out, &created, error);
    if (result != PACK_EXIT_OK) {
        TakeBack(pool, created);
        return result;
    }

    // The new release: the live Door's other files carried forward (other
    // models, extra files), this model's catalogue new. A statement of the
    // old catalogue would not fit the new one, so it is not carried.
    const std::string catalogueName = input.model + ".Bin";
    std::set<std::string> replaced = {catalogueName, input.model + ".Sig"};
    for (const auto& file : input.doorFiles) replaced.insert(file.first);
    CStagedRelease staged(store);
    bool staging = staged.Create(error) &&
                   (kind != DoorKind::LINK || staged.CopyFrom(store.ReleaseDoor(live), replaced, error)) &&
                   WriteWholeFile((fs::path(staged.Door()) / catalogueName).string(), input.catalogue, error);
    for (size_t i = 0; staging && i < input.doorFiles.size(); ++i) {
        const auto& file = input.doorFiles[i];
        staging = WriteWholeFile((fs::path(staged.Door()) / file.first).string(), file.second, error);
    }
    if (!staging) {
        TakeBack(pool, created);
        return PACK_EXIT_IO;
    }
    if (!CheckStagedRelease(staged.Door(), store.pool, options.trust.keys, error)) {
        *error = "the staged release fails the updater's check, nothing was made live: " + *error;
        TakeBack(pool, created);
        return PACK_EXIT_REFUSED;
    }
    if (!staged.WriteInfo("", error) || !staged.Commit(next, error) || !SwapDoor(store, next, false, error)) {
        std::error_code code;
        if (!fs::equivalent(store.door, store.ReleaseDoor(next), code)) {
            fs::remove_all(store.ReleaseDir(next), code);
            TakeBack(pool, created);
        }
        return PACK_EXIT_IO;
    }
    const std::string cataloguePath = (fs::path(store.door) / catalogueName).string();
    out << cataloguePath << ": catalogue \"" << input.model << "\", " << input.catalogue.size() << " bytes\n";
    out << store.door << " -> " << LinkTarget(next) << ": release " << SerialName(next) << " is live\n";
    PruneReleases(store, pool, next, std::max(options.keep, 1u), out);
    return PACK_EXIT_OK;
}

int ListReleases(const std::string& outDir, std::ostream& out, std::string* error)
{
    const Store store(outDir);
    if (!IsFolder(store.outDir, error)) return PACK_EXIT_IO;
    DoorKind kind;
    unsigned live = 0;
    const int result = ReadLiveDoor(store, &kind, &live, error);
    if (result != PACK_EXIT_OK) return result;
    const std::vector<unsigned> serials = ReleaseSerials(store);
    if (kind == DoorKind::FOLDER) out << store.door << " is a folder of the layout before releases\n";
    if (serials.empty()) {
        out << "no releases in " << store.releases << "\n";
        return PACK_EXIT_OK;
    }
    for (unsigned serial : serials) {
        ReleaseInfo info;
        std::string refused;
        ReadReleaseInfo(store.ReleaseDir(serial), &info, &refused);
        std::string models;
        for (const std::string& model : ModelsIn(store.ReleaseDoor(serial)))
            models += (models.empty() ? "" : ",") + model;
        out << (kind == DoorKind::LINK && serial == live ? "* " : "  ") << SerialName(serial) << "  "
            << (info.published.empty() ? "?" : info.published) << "  " << (models.empty() ? "-" : models) << "  "
            << info.images.size() << " images";
        if (!info.note.empty()) out << "  (" << info.note << ")";
        if (!refused.empty()) out << "  refused: " << refused;
        out << "\n";
    }
    return PACK_EXIT_OK;
}

int RollbackRelease(const std::string& outDir, const ReleaseTrust& trust, std::ostream& out, std::string* error)
{
    const Store store(outDir);
    if (!IsFolder(store.outDir, error)) return PACK_EXIT_IO;
    CPublishLock lock;
    const int locked = lock.Acquire(store.lock, error);
    if (locked != PACK_EXIT_OK) return locked;
    DoorKind kind;
    unsigned live = 0;
    const int result = ReadLiveDoor(store, &kind, &live, error);
    if (result != PACK_EXIT_OK) return result;
    if (kind != DoorKind::LINK) {
        *error = Quoted(store.door) + " serves no release of ruvo-pack; nothing to roll back";
        return PACK_EXIT_BAD_INPUT;
    }
    unsigned previous = 0;
    for (unsigned serial : ReleaseSerials(store)) {
        if (serial < live) previous = serial;
    }
    if (previous == 0) {
        *error = "release " + SerialName(live) + " is the oldest kept release; there is none to roll back to";
        return PACK_EXIT_BAD_INPUT;
    }
    const std::string door = store.ReleaseDoor(previous);
    std::string dropped;
    const std::vector<std::string> kept = SignedModelsIn(door);
    for (const std::string& model : SignedModelsIn(store.ReleaseDoor(live))) {
        if (!std::binary_search(kept.begin(), kept.end(), model)) dropped += (dropped.empty() ? "" : ", ") + model;
    }
    if (!dropped.empty() && !trust.allowUnsigned) {
        *error = "release " + SerialName(previous) + " has no statement of model " + dropped +
                 ", whose live release is signed: signed updaters would refuse it; give --unsigned to roll back anyway";
        return PACK_EXIT_BAD_INPUT;
    }
    if (!dropped.empty()) out << "--unsigned: model " << dropped << " goes live unsigned; signed updaters refuse it\n";
    if (!CheckStagedRelease(door, store.pool, trust.keys, error)) {
        *error = "release " + SerialName(previous) + " fails the updater's check, it stays offline: " + *error;
        return PACK_EXIT_REFUSED;
    }
    if (!SwapDoor(store, previous, false, error)) return PACK_EXIT_IO;
    out << store.door << " -> " << LinkTarget(previous) << ": release " << SerialName(previous)
        << " is live again (was " << SerialName(live) << ")\n";
    return PACK_EXIT_OK;
}
