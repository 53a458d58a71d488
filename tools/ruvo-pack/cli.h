#pragma once
// The ruvo-pack command line: every subcommand, callable in-process by tests.
#include <ostream>
#include <string>
#include <vector>

#include "tools/ruvo-pack/exit_codes.h"

// `args` excludes the program name. Normal output goes to `out`, messages
// ("ruvo-pack: ...") to `err`.
int RunRuvoPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
