#pragma once
// A model's statement files in a Door as the publisher reads them back: the
// serial and expiry of <model>.Sig2, for the next serial, `releases` and
// `verify-release`. Only the layout is read here; the check of a statement
// is the updater's (release_check.h).
#include <cstdint>
#include <string>

// What a Door holds of one model's statements.
struct DoorStatementTerms {
    bool present = false;   // <model>.Sig2 exists
    bool readable = false;  // and has the layout of format 2 (serial and expiry below)
    uint64_t serial = 0;
    uint64_t expires = 0;
};

// Reads <doorDir>/<model>.Sig2 without following a link to it.
DoorStatementTerms ReadStatementTerms(const std::string& doorDir, const std::string& model);

// True when <doorDir>/<model>.Sig (format 1) is a regular file.
bool HasFormat1Statement(const std::string& doorDir, const std::string& model);

// An expiry as people read it: "never", or UTC in ISO 8601
// ("2027-01-10T00:47:12Z").
std::string ExpiryText(uint64_t expires);

// "serial 4, expires 2027-01-10T00:47:12Z".
std::string TermsText(uint64_t serial, uint64_t expires);
