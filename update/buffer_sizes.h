#pragma once
// How large the buffers are that receive a release, the same in every
// updater, so that a file one of them accepts the other accepts too.
#include <cstdint>

#include "update/package.h"
#include "update/release_statement.h"

// The catalogue download. Signed releases read the statement in behind the
// largest catalogue the check accepts.
constexpr uint32_t CATALOGUE_BUFFER_SIZE = 16384;
constexpr uint32_t STATEMENT_OFFSET = CATALOGUE_MAX_LENGTH;
constexpr uint32_t STATEMENT_CAPACITY = CATALOGUE_BUFFER_SIZE - STATEMENT_OFFSET;
static_assert(STATEMENT_CAPACITY > STATEMENT_MAX_LENGTH, "a too long statement is read whole and refused");

// An image download may be this much larger than its record announced.
constexpr uint32_t IMAGE_BUFFER_SLACK = 128;

// The buffer for an image whose record announces `size` bytes. The walk
// refuses sizes beyond a whole flash, so this cannot overflow.
constexpr uint32_t ImageBufferCapacity(int32_t size)
{
    return static_cast<uint32_t>(size) + IMAGE_BUFFER_SLACK;
}
