// Publishing and listing releases in a server folder.
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
#include "tools/ruvo-pack/release_serial_posix.h"
#include "tools/ruvo-pack/release_statements_posix.h"
#include "tools/ruvo-pack/server_folder_posix.h"
#include "tools/ruvo-pack/staged_release_posix.h"
#include "tools/ruvo-pack/statement_file.h"
#include "update/server_layout.h"

namespace fs = std::filesystem;

namespace {

// A publish without a statement of its model over a live release with one
// would silently unsign the model: refused (exit 3) unless --unsigned.
int CheckStaysSigned(const Store& store, const PublishInput& input, const PublishOptions& options, std::ostream& out,
                     std::string* error)
{
    const std::string second = ServerFileName(ServerFile::STATEMENT2, input.model.c_str());
    const std::string first = ServerFileName(ServerFile::STATEMENT, input.model.c_str());
    if (options.signer.Active()) return PACK_EXIT_OK;
    for (const DoorFile& file : input.doorFiles) {
        if (file.first == second || file.first == first) return PACK_EXIT_OK;
    }
    std::string live;
    for (const std::string& name : {second, first}) {
        std::error_code code;
        const std::string path = (fs::path(store.door) / name).string();
        if (live.empty() && fs::symlink_status(path, code).type() != fs::file_type::not_found) live = path;
    }
    if (live.empty()) return PACK_EXIT_OK;
    if (!options.trust.allowUnsigned) {
        *error =
            "the live release of model " + input.model + " is signed (" + live +
            ") and this publish is not: signed updaters would refuse it; sign it with --sign KEY.pem "
            "(--expires DAYS | --no-expiry), or give --unsigned to publish it unsigned anyway; nothing was written";
        return PACK_EXIT_BAD_INPUT;
    }
    out << "--unsigned: the live release of model " << input.model
        << " is signed, this one is not; signed updaters refuse it\n";
    return PACK_EXIT_OK;
}

// A format-1 statement of the model in the live release describes the old
// catalogue: it is never carried into the new release. Says so when exes
// that read only that format lose it.
void NoteFormat1Dropped(const Store& store, const std::string& model, const std::vector<DoorFile>& files,
                        std::ostream& out)
{
    const std::string first = ServerFileName(ServerFile::STATEMENT, model.c_str());
    for (const DoorFile& file : files) {
        if (file.first == first) return;
    }
    if (!HasFormat1Statement(store.door, model)) return;
    out << "note: the live " << first << " (format 1) describes the old catalogue and is not carried forward; "
        << "exes that read only format 1 refuse model " << model << " until a publish with --format-1-too\n";
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
    result = CheckStaysSigned(store, input, options, out, error);
    if (result != PACK_EXIT_OK) return result;
    if (kind == DoorKind::FOLDER) {
        const unsigned migrated = serials.empty() ? 1 : serials.back() + 1;
        result = MigrateDoorFolder(store, migrated, out, error);
        if (result != PACK_EXIT_OK) return result;
        std::error_code code;
        if (fs::is_symlink(store.door, code)) {
            kind = DoorKind::LINK;
            live = migrated;
            serials.push_back(live);
        } else {
            kind = DoorKind::NONE;
        }
    }

    // The statements are signed under the lock: their serial is the new
    // release's number, which only the server folder as it is now decides.
    std::vector<std::string> signedModels;
    if (options.signer.Active()) signedModels.push_back(input.model);
    unsigned next = 0;
    if (!NextReleaseSerial(store, signedModels, &next, error)) return PACK_EXIT_BAD_INPUT;
    std::vector<DoorFile> doorFiles = input.doorFiles;
    if (options.signer.Active()) {
        std::vector<StatementImage> images;
        for (const PublishedImage& image : input.images) images.push_back({image.name, &image.package});
        if (!MakeModelStatements(options.signer, next, input.model, input.catalogue, images, &doorFiles, error))
            return PACK_EXIT_BAD_INPUT;
    }
    NoteFormat1Dropped(store, input.model, doorFiles, out);

    std::vector<std::string> created;
    result = WritePoolImages(store, input, options, serials, out, &created, error);
    if (result != PACK_EXIT_OK) {
        TakeBack(pool, created);
        return result;
    }

    // The new release: the live Door's other files carried forward (other
    // models, extra files), this model's catalogue new. A statement of the
    // old catalogue would not fit the new one, so neither format is carried.
    const std::string catalogueName = ServerFileName(ServerFile::CATALOGUE, input.model.c_str());
    std::set<std::string> replaced = {catalogueName, ServerFileName(ServerFile::STATEMENT, input.model.c_str()),
                                      ServerFileName(ServerFile::STATEMENT2, input.model.c_str())};
    for (const DoorFile& file : doorFiles) replaced.insert(file.first);
    CStagedRelease staged(store);
    bool staging = staged.Create(error) &&
                   (kind != DoorKind::LINK || staged.CopyFrom(store.ReleaseDoor(live), replaced, error)) &&
                   WriteWholeFile((fs::path(staged.Door()) / catalogueName).string(), input.catalogue, error);
    for (size_t i = 0; staging && i < doorFiles.size(); ++i) {
        staging = WriteWholeFile((fs::path(staged.Door()) / doorFiles[i].first).string(), doorFiles[i].second, error);
    }
    if (!staging) {
        TakeBack(pool, created);
        return PACK_EXIT_IO;
    }
    if (!CheckStagedRelease(staged.Door(), store.pool, TrustWithSigner(options.trust, options.signer, signedModels),
                            error)) {
        *error = "the staged release fails the updater's check, nothing was made live: " + *error;
        TakeBack(pool, created);
        return PACK_EXIT_REFUSED;
    }
    if (!staged.WriteInfo("", 0, error) || !staged.Commit(next, error) || !SwapDoor(store, next, false, error)) {
        std::error_code code;
        if (!fs::equivalent(store.door, store.ReleaseDoor(next), code)) {
            fs::remove_all(store.ReleaseDir(next), code);
            TakeBack(pool, created);
        }
        return PACK_EXIT_IO;
    }
    const std::string cataloguePath = (fs::path(store.door) / catalogueName).string();
    out << cataloguePath << ": catalogue \"" << input.model << "\", " << input.catalogue.size() << " bytes\n";
    PrintStatements(store, doorFiles, out);
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
        for (const std::string& model : SignedModelsIn(store.ReleaseDoor(serial)))
            out << "  " << StatementsSummary(store.ReleaseDoor(serial), model);
        if (!info.note.empty()) out << "  (" << info.note << ")";
        if (!refused.empty()) out << "  refused: " << refused;
        out << "\n";
    }
    return PACK_EXIT_OK;
}
