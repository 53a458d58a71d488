#pragma once
// The exit codes of ruvo-pack, one meaning each (listed in README.md).
enum PackExitCode {
    PACK_EXIT_OK = 0,
    PACK_EXIT_REFUSED = 1,    // the updater's check refuses a package or a staged release
    PACK_EXIT_USAGE = 2,      // unknown subcommand, missing or malformed argument
    PACK_EXIT_BAD_INPUT = 3,  // input breaks a rule: manifest, naming, ids, firmware size, a Pool rewrite
    PACK_EXIT_IO = 4,         // a file could not be read or written, or is no fit input file
    PACK_EXIT_LOCKED = 5,     // another publish holds OUTDIR/.lock
};
