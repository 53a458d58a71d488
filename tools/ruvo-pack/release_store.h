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
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tools/ruvo-pack/release_check.h"

struct PublishedImage {
    std::string name;  // record name = file name under Pool/
    std::vector<uint8_t> package;
};

struct PublishInput {
    std::string model;               // the catalogue is Door/<model>.Bin
    std::vector<uint8_t> catalogue;  // stored form, already checked
    std::vector<PublishedImage> images;
    // Further files of this release's Door (a statement of the catalogue),
    // staged next to it before the check; name -> content.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> doorFiles;
};

struct PublishOptions {
    unsigned keep = 3;     // newest releases kept (the live one always is)
    bool replace = false;  // allow rewriting a Pool name with other bytes
    ReleaseTrust trust;    // what the staged release's statements are checked with
};

// Publishes under OUTDIR/.lock. Returns a PackExitCode; `out` gets a line per
// file written or removed, `error` the reason of a failure.
int PublishRelease(const std::string& outDir, const PublishInput& input, const PublishOptions& options,
                   std::ostream& out, std::string* error);

// Prints the kept releases, newest last, marking the live one.
int ListReleases(const std::string& outDir, std::ostream& out, std::string* error);

// Makes the newest release older than the live one live again (under the
// lock), once its Door passes CheckStagedRelease with `trust`'s keys; a
// release without the statement of a model whose live release is signed
// only with `trust.allowUnsigned`.
int RollbackRelease(const std::string& outDir, const ReleaseTrust& trust, std::ostream& out, std::string* error);
