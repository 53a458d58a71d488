#pragma once
// What identification hands the update on a signed build: the checked
// release statement, whose records give each image's length and SHA-256.
// Written once by identification before it enables the update button and
// only read afterwards (the same hand-over as the catalogue table).
#include <cstdint>

#include "update/release_acceptance.h"
#include "update/release_statement.h"

extern ReleaseStatement g_releaseStatement;

// The release core's crypto on a build with release keys, null otherwise:
// a build without keys links no crypto and imports no CNG.
const CReleaseSigning* ReleaseSigning();

// Checks a downloaded statement against the compiled-in keys and keeps it
// in g_releaseStatement when it holds. Never called without keys.
int32_t CheckReleaseStatement(const uint8_t* bytes, uint32_t length, const char* modelId,
                              const CatalogueFacts& catalogue);
