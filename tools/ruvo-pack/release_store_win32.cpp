// Publishing needs what a Windows folder does not give ruvo-pack: the
// verbs say so and change nothing.
#include "tools/ruvo-pack/release_store.h"

#include "tools/ruvo-pack/exit_codes.h"

namespace {

const char NO_LAYOUT[] =
    "publish, releases, refresh and rollback need symbolic links and file locks of a POSIX server folder; "
    "run them with the Linux build of ruvo-pack (image, catalogue, verify and inspect work here)";

}  // namespace

int PublishRelease(const std::string&, const PublishInput&, const PublishOptions&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}

int ListReleases(const std::string&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}

int RefreshRelease(const std::string&, const ResignOptions&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}

int RollbackRelease(const std::string&, const ResignOptions&, std::ostream&, std::string* error)
{
    *error = NO_LAYOUT;
    return PACK_EXIT_IO;
}
