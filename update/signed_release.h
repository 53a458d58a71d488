#pragma once
// What identification hands the update on a signed build: the checked
// release statement, whose records give each image's length and SHA-256.
// Written once by identification before it enables the update button and
// only read afterwards (the same hand-over as the catalogue table).
#include "update/release_statement.h"

extern ReleaseStatement g_releaseStatement;
