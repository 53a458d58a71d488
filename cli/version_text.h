#pragma once
// What `ruvo-flash --version` says: the version, the update server built in,
// and the ids of the publisher keys this build trusts, so a user can see
// whose releases it will flash before it touches a device. Portable.
#include <cstddef>
#include <string>

#include "update/release_statement.h"

// `revision`: the source revision it was built from; `threshold`: how many
// of the keys must sign a release. A build that talks to a loopback server
// says that it is not for release.
std::string VersionText(const char* version, const char* revision, const char* baseUrl, const ReleaseKey* keys,
                        size_t keyCount, int threshold);

// A key id as the publisher tool and the build print it: 16 hex digits.
std::string KeyIdText(const uint8_t (&keyId)[RELEASE_KEY_ID_LENGTH]);
