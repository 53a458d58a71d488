#pragma once
// Where ruvo-flash remembers accepted releases when --state does not say:
// on Windows the registry the window uses too, elsewhere the user's state
// folder. `place` names it for messages.
#include <memory>
#include <string>

#include "update/release_history.h"

std::unique_ptr<CReleaseHistory> DefaultReleaseHistory(std::string& place);
