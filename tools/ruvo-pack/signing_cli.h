#pragma once
// The signing subcommands of ruvo-pack (keygen, verify-release) and the
// --sign step of publish; cli.cpp dispatches to them.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

extern const char SIGNING_USAGE[];

int RunKeygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunVerifyRelease(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Removes "--sign KEY" from publish's arguments; `keyPath` is empty without it.
// False (message in `error`) when --sign has no key or this build cannot sign.
bool TakeSignOption(std::vector<std::string>* args, std::string* keyPath, std::string* error);

// The signed statement of a release whose files are in memory, made before
// anything is written; `names` and `images` are in catalogue order.
bool MakeReleaseStatement(const std::string& keyPath, const std::string& model, const std::vector<uint8_t>& catalogue,
                          const std::vector<std::string>& names, const std::vector<std::vector<uint8_t>>& images,
                          std::vector<uint8_t>* statement, std::string* error);

// Writes it as <root>/Door/<model>.Sig, next to the catalogue.
bool WriteReleaseStatement(const std::string& root, const std::string& model, const std::vector<uint8_t>& statement,
                           std::ostream& out, std::string* error);
