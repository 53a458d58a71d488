#pragma once
// The seam for signed releases. When the build has compiled-in keys or
// --key is given, ruvo-flash hands every catalogue and image it downloaded to
// a CReleaseCheck before using it; without one the release is taken as the
// window takes it. No option skips a check that is configured.
#include <cstddef>
#include <cstdint>
#include <string>

struct ReleaseVerdict {
    bool accepted;
    std::string code;  // as the window shows it, e.g. "0402 -4"
    std::string text;
};

class CReleaseCheck {
public:
    virtual ~CReleaseCheck() = default;
    virtual ReleaseVerdict CheckCatalogue(const std::string& modelId, const uint8_t* package, size_t length) = 0;
    virtual ReleaseVerdict CheckImage(const std::string& name, const uint8_t* package, size_t length) = 0;
};
