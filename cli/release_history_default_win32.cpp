#include "cli/release_history_default.h"

#include "update/release_history_registry.h"

std::unique_ptr<CReleaseHistory> DefaultReleaseHistory(std::string& place)
{
    place = "HKCU\\Software\\RUVO";
    return std::make_unique<CRegistryHistory>();
}
