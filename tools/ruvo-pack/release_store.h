#pragma once
// The server folder a release is published into (layout in README.md):
//
//   OUTDIR/.lock                      held by the one publish (or rollback) at work
//   OUTDIR/releases/<serial>/Door/    one release's catalogues (and statements)
//   OUTDIR/releases/<serial>/release.txt
//   OUTDIR/BRELM/Door -> ../releases/<serial>/Door   the live release
//   OUTDIR/BRELM/Pool/<name>          image packages, never rewritten
//
// A release is staged beside the live one, checked as the updater checks it
// (release_check.h), and made live by renaming a new link over BRELM/Door, so a client sees the
// old release or the new one, each with every image it names.
//
// A release's number is also the serial of the statements it signs: one
// more than the newest release folder and than every serial a statement of
// those models in the live Door or a kept release carries
// (release_serial_posix.h), so a serial never goes back, not even in a
// restored or emptied OUTDIR.
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tools/ruvo-pack/release_check.h"
#include "tools/ruvo-pack/release_signer.h"

struct PublishedImage {
    std::string name;  // record name = file name under Pool/
    std::vector<uint8_t> package;
};

struct PublishInput {
    std::string model;               // the catalogue is Door/<model>.Bin
    std::vector<uint8_t> catalogue;  // stored form, already checked
    std::vector<PublishedImage> images;
    // Further files of this release's Door, staged next to the catalogue
    // before the check.
    std::vector<DoorFile> doorFiles;
};

struct PublishOptions {
    unsigned keep = 3;     // newest releases kept (the live one always is)
    bool replace = false;  // allow rewriting a Pool name with other bytes
    ReleaseTrust trust;    // what the staged release's statements are checked with
    ReleaseSigner signer;  // signs the model's statements under the new release's number; inactive: unsigned
};

// What refresh and rollback sign and check.
struct ResignOptions {
    ReleaseSigner signer;  // rollback without it only checks and swaps
    // refresh: the models to sign; empty: every model with a statement in the live release
    std::vector<std::string> models;
    ReleaseTrust trust;  // the statements carried as they are are checked with these keys
};

// Publishes under OUTDIR/.lock. Returns a PackExitCode; `out` gets a line per
// file written or removed, `error` the reason of a failure.
int PublishRelease(const std::string& outDir, const PublishInput& input, const PublishOptions& options,
                   std::ostream& out, std::string* error);

// Prints the kept releases, newest last, marking the live one, with each
// model's statement serial and expiry.
int ListReleases(const std::string& outDir, std::ostream& out, std::string* error);

// Re-signs the live release's statements under a new release number with
// the signer's expiry (under the lock): a new release with the same
// catalogues and images, checked and swapped in as a publish is. It
// replaces the older releases that serve the same content, so a refresh on
// a timer never pushes older releases out.
int RefreshRelease(const std::string& outDir, const ResignOptions& options, std::ostream& out, std::string* error);

// Brings back the content of the newest release older than the live content
// (under the lock). With a signer: as a new release whose statements are
// signed anew under a new number, so clients that accepted the live serial
// accept it. Without: the release itself goes live again once its Door
// passes CheckStagedRelease, unless it holds a format-2 statement (its serial
// is below what clients accepted); a release without the statement of a
// model whose live release is signed only with `trust.allowUnsigned`.
int RollbackRelease(const std::string& outDir, const ResignOptions& options, std::ostream& out, std::string* error);
