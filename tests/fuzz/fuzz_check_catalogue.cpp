// libFuzzer target: CheckPackage in catalogue mode, then the walk it leads to.
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzCheckPackage(PACKAGE_CATALOGUE, data, size);
    return 0;
}
