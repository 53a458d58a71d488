// refresh and rollback: a release whose content is already published, made
// live again with its statements signed anew under a new serial.
#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "common/quoted.h"
#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/open_folder.h"
#include "tools/ruvo-pack/pool_images_posix.h"
#include "tools/ruvo-pack/publish_lock_posix.h"
#include "tools/ruvo-pack/release_record_posix.h"
#include "tools/ruvo-pack/release_serial_posix.h"
#include "tools/ruvo-pack/release_statements_posix.h"
#include "tools/ruvo-pack/release_store.h"
#include "tools/ruvo-pack/server_folder_posix.h"
#include "tools/ruvo-pack/staged_release_posix.h"
#include "tools/ruvo-pack/statement_file.h"
#include "update/server_layout.h"

namespace fs = std::filesystem;

namespace {

// The server folder held for a refresh or a rollback: locked, its Pool open,
// its live release a release of this tool.
struct HeldStore {
    Store store;
    CPublishLock lock;
    COpenFolder pool;
    unsigned live = 0;

    explicit HeldStore(const std::string& outDir) : store(outDir) {}

    int Hold(const std::string& verb, std::string* error)
    {
        if (!IsFolder(store.outDir, error)) return PACK_EXIT_IO;
        const int locked = lock.Acquire(store.lock, error);
        if (locked != PACK_EXIT_OK) return locked;
        DoorKind kind;
        const int result = ReadLiveDoor(store, &kind, &live, error);
        if (result != PACK_EXIT_OK) return result;
        if (kind != DoorKind::LINK) {
            *error = Quoted(store.door) + " serves no release of ruvo-pack; nothing to " + verb;
            return PACK_EXIT_BAD_INPUT;
        }
        if (!pool.Open(store.pool, error)) return PACK_EXIT_IO;
        RemoveLeftovers(store);
        // Pruning acts on recorded names: they must be Pool names before anything is written.
        if (!CheckRecordedNames(store, ReleaseSerials(store), error)) {
            *error += "; nothing was written";
            return PACK_EXIT_BAD_INPUT;
        }
        return PACK_EXIT_OK;
    }
};

std::string Listed(const std::vector<std::string>& models)
{
    std::string text;
    for (const std::string& model : models) text += (text.empty() ? "" : ", ") + model;
    return text;
}

// Stages a copy of release `source`'s Door with the statements of `models`
// signed under the next serial (format 1 ones are kept as they are unless the
// signer makes them anew: they describe the very catalogues copied), checks
// it as a publish does and makes it live. `number` receives its number.
int ResignAndSwap(HeldStore& held, unsigned source, const std::vector<std::string>& models,
                  const ResignOptions& options, const std::string& note, unsigned* number, std::ostream& out,
                  std::string* error)
{
    const Store& store = held.store;
    unsigned next = 0;
    if (!NextReleaseSerial(store, models, &next, error)) return PACK_EXIT_BAD_INPUT;
    COpenFolder door;
    if (!door.Open(store.ReleaseDoor(source), error)) return PACK_EXIT_IO;
    std::vector<DoorFile> files;
    for (const std::string& model : models) {
        if (!ResignModel(options.signer, next, door, held.pool, model, &files, error)) return PACK_EXIT_BAD_INPUT;
    }
    std::set<std::string> replaced;
    for (const DoorFile& file : files) replaced.insert(file.first);
    CStagedRelease staged(store);
    bool staging = staged.Create(error) && staged.CopyFrom(store.ReleaseDoor(source), replaced, error);
    for (size_t i = 0; staging && i < files.size(); ++i)
        staging = WriteWholeFile((fs::path(staged.Door()) / files[i].first).string(), files[i].second, error);
    if (!staging) return PACK_EXIT_IO;
    if (!CheckStagedRelease(staged.Door(), store.pool, TrustWithSigner(options.trust, options.signer, models), error)) {
        *error = "the re-signed release fails the updater's check, nothing was made live: " + *error;
        return PACK_EXIT_REFUSED;
    }
    if (!staged.WriteInfo(note, ContentOf(store, source), error) || !staged.Commit(next, error)) return PACK_EXIT_IO;
    if (!SwapDoor(store, next, false, error)) {
        std::error_code code;
        fs::remove_all(store.ReleaseDir(next), code);
        return PACK_EXIT_IO;
    }
    PrintStatements(store, files, out);
    *number = next;
    return PACK_EXIT_OK;
}

// Without a signer: release `previous` itself goes live again, as long as
// clients can still accept it.
int SwapBack(HeldStore& held, unsigned previous, const ReleaseTrust& trust, std::ostream& out, std::string* error)
{
    const Store& store = held.store;
    const std::string door = store.ReleaseDoor(previous), liveDoor = store.ReleaseDoor(held.live);
    std::string older;
    for (const std::string& model : ModelsIn(door)) {
        const DoorStatementTerms terms = ReadStatementTerms(door, model);
        if (!terms.present) continue;
        const DoorStatementTerms now = ReadStatementTerms(liveDoor, model);
        older += (older.empty() ? "" : ", ") + model +
                 (terms.readable ? " serial " + std::to_string(terms.serial) : "") +
                 (now.readable ? ", live serial " + std::to_string(now.serial) : "");
    }
    if (!older.empty()) {
        *error = "release " + SerialName(previous) + " is signed (" + older +
                 "), and clients that accepted a newer serial refuse an older one (-7): roll back with --sign KEY.pem "
                 "(--expires DAYS | --no-expiry) to sign its content anew under a new serial";
        return PACK_EXIT_BAD_INPUT;
    }
    std::string dropped;
    const std::vector<std::string> kept = SignedModelsIn(door);
    for (const std::string& model : SignedModelsIn(liveDoor)) {
        if (!std::binary_search(kept.begin(), kept.end(), model)) dropped += (dropped.empty() ? "" : ", ") + model;
    }
    if (!dropped.empty() && !trust.allowUnsigned) {
        *error = "release " + SerialName(previous) + " has no statement of model " + dropped +
                 ", whose live release is signed: signed updaters would refuse it; give --unsigned to roll back anyway";
        return PACK_EXIT_BAD_INPUT;
    }
    if (!dropped.empty()) out << "--unsigned: model " << dropped << " goes live unsigned; signed updaters refuse it\n";
    if (!CheckStagedRelease(door, store.pool, trust, error)) {
        *error = "release " + SerialName(previous) + " fails the updater's check, it stays offline: " + *error;
        return PACK_EXIT_REFUSED;
    }
    if (!SwapDoor(store, previous, false, error)) return PACK_EXIT_IO;
    out << store.door << " -> " << LinkTarget(previous) << ": release " << SerialName(previous)
        << " is live again (was " << SerialName(held.live) << ")\n";
    return PACK_EXIT_OK;
}

}  // namespace

int RefreshRelease(const std::string& outDir, const ResignOptions& options, std::ostream& out, std::string* error)
{
    HeldStore held(outDir);
    int result = held.Hold("refresh", error);
    if (result != PACK_EXIT_OK) return result;
    const Store& store = held.store;
    const std::string liveDoor = store.ReleaseDoor(held.live);
    std::vector<std::string> models = options.models.empty() ? SignedModelsIn(liveDoor) : options.models;
    if (models.empty()) {
        *error = "the live release " + SerialName(held.live) +
                 " holds no statement to refresh; name the models to sign with --model ID";
        return PACK_EXIT_BAD_INPUT;
    }
    const std::vector<std::string> catalogues = ModelsIn(liveDoor);
    for (const std::string& model : models) {
        if (std::find(catalogues.begin(), catalogues.end(), model) == catalogues.end()) {
            *error = "the live release " + SerialName(held.live) + " has no catalogue of model " + model;
            return PACK_EXIT_BAD_INPUT;
        }
    }
    unsigned next = 0;
    result = ResignAndSwap(held, held.live, models, options, "refresh of release " + SerialName(held.live), &next, out,
                           error);
    if (result != PACK_EXIT_OK) return result;
    out << store.door << " -> " << LinkTarget(next) << ": release " << SerialName(next) << " is live ("
        << Listed(models) << " signed anew; was " << SerialName(held.live) << ")\n";
    // The older releases of this content serve nothing the new one does not:
    // they go, so that refreshes never push older content out of the kept releases.
    const unsigned content = ContentOf(store, next);
    std::vector<unsigned> superseded;
    for (unsigned serial : ReleaseSerials(store)) {
        if (serial != next && ContentOf(store, serial) == content) superseded.push_back(serial);
    }
    DropReleases(store, held.pool, next, superseded, "superseded by release " + SerialName(next), out);
    return PACK_EXIT_OK;
}

int RollbackRelease(const std::string& outDir, const ResignOptions& options, std::ostream& out, std::string* error)
{
    HeldStore held(outDir);
    const int result = held.Hold("roll back", error);
    if (result != PACK_EXIT_OK) return result;
    const Store& store = held.store;
    // The release before the live content: a refresh of the live content is
    // no step back, a refresh of older content is.
    const unsigned content = ContentOf(store, held.live);
    unsigned previous = 0;
    for (unsigned serial : ReleaseSerials(store)) {
        if (serial < content) previous = serial;
    }
    if (previous == 0) {
        *error = "release " + SerialName(content) + " is the oldest kept content" +
                 (content != held.live ? " (live as release " + SerialName(held.live) + ")" : "") +
                 "; there is none to roll back to";
        return PACK_EXIT_BAD_INPUT;
    }
    if (!options.signer.Active()) return SwapBack(held, previous, options.trust, out, error);

    // Every model signed before or after the step stays signed.
    const std::string door = store.ReleaseDoor(previous);
    const std::vector<std::string> before = SignedModelsIn(door), after = SignedModelsIn(store.ReleaseDoor(held.live));
    std::vector<std::string> models;
    for (const std::string& model : ModelsIn(door)) {
        if (std::binary_search(before.begin(), before.end(), model) ||
            std::binary_search(after.begin(), after.end(), model))
            models.push_back(model);
    }
    if (models.empty()) {
        *error = "neither release " + SerialName(previous) +
                 " nor the live release holds a statement: roll back "
                 "without --sign";
        return PACK_EXIT_BAD_INPUT;
    }
    unsigned next = 0;
    const int swapped = ResignAndSwap(held, previous, models, options, "rollback to release " + SerialName(previous),
                                      &next, out, error);
    if (swapped != PACK_EXIT_OK) return swapped;
    out << store.door << " -> " << LinkTarget(next) << ": release " << SerialName(next) << " is live: the content of "
        << "release " << SerialName(ContentOf(store, previous)) << ", " << Listed(models) << " signed anew (was "
        << SerialName(held.live) << ")\n";
    return PACK_EXIT_OK;
}
