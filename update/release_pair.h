#pragma once
// The catalogue and its release statement are two requests. A release made
// live on the server between them pairs one release's catalogue with the
// next one's statement, which then names another catalogue (-4) or other
// records (-5) although both releases are sound. Identification on a signed
// release therefore fetches both files once more, past anything kept from
// the first requests, before it refuses such a pair. Every other refusal is
// final at once: no second look turns a bad signature, another model or a
// malformed file into a good one. Both updaters decide here.
#include <cstdint>

#include "update/release_statement.h"

// True for the statement check's codes that a release swapped between the
// two requests can cause.
constexpr bool MayBeSwappedRelease(int32_t statementCode)
{
    return statementCode == STATEMENT_OTHER_CATALOGUE || statementCode == STATEMENT_OTHER_RECORDS;
}

// `checkStatement()` fetches and checks the statement for the catalogue
// already fetched and returns the check's code; `fetchPairAgain()` fetches
// the catalogue and the statement anew, checks both and returns the
// statement check's code (anything but STATEMENT_OK when either is missing
// or refused). Returns STATEMENT_OK when either pair holds; otherwise the
// first code, so a refusal reads as it always did: the second pair can only
// lift it, once.
template <typename CheckStatement, typename FetchPairAgain>
int32_t CheckReleasePair(CheckStatement&& checkStatement, FetchPairAgain&& fetchPairAgain)
{
    const int32_t first = checkStatement();
    if (!MayBeSwappedRelease(first)) return first;
    return fetchPairAgain() == STATEMENT_OK ? STATEMENT_OK : first;
}
