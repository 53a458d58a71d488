// libFuzzer target: CheckPackage in image mode, then the reads programming makes.
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzCheckPackage(PACKAGE_IMAGE, data, size);
    return 0;
}
