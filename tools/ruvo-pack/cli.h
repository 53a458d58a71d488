#pragma once
// The ruvo-pack command line: every subcommand, callable in-process by tests.
#include <ostream>
#include <string>
#include <vector>

enum PackExitCode {
    PACK_EXIT_OK = 0,
    PACK_EXIT_REFUSED = 1,    // verify or inspect: the updater would refuse the package
    PACK_EXIT_USAGE = 2,      // unknown subcommand, missing or malformed argument
    PACK_EXIT_BAD_INPUT = 3,  // input breaks a rule: manifest, naming, firmware size
    PACK_EXIT_IO = 4,         // a file could not be read or written
};

// `args` excludes the program name. Normal output goes to `out`, messages
// ("ruvo-pack: ...") to `err`.
int RunRuvoPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
