#pragma once
// The signing subcommands of ruvo-pack (keygen, verify-release) and the keys
// that check statements; cli.cpp dispatches to them.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/ruvo-pack/release_store.h"

int RunKeygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunVerifyRelease(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The public keys of --key options, for the check of a release's statements.
// Returns a PackExitCode: a file that cannot be read is an I/O failure, one
// that holds no usable public key is bad input.
int LoadCheckKeys(const std::vector<std::string>& paths, std::vector<ReleaseKey>* keys, std::string* error);
