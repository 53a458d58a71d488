#include "tools/simulator/sim_flash_file.h"

#include <cstdio>

bool LoadFlashFile(const std::string& path, SimulatedDevice& device)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const size_t got = std::fread(device.Flash(), 1, FLASH_SIZE, file);
    const bool longer = std::fgetc(file) != EOF;
    std::fclose(file);
    if (longer) std::fprintf(stderr, "ruvo-sim: %s is larger than the flash (%u bytes)\n", path.c_str(), FLASH_SIZE);
    (void)got;  // a shorter file fills the start; the rest stays erased
    return !longer;
}

bool DumpFlashFile(const std::string& path, const SimulatedDevice& device)
{
    const std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(device.Flash(), 1, FLASH_SIZE, file) == FLASH_SIZE;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::remove(temporary.c_str());
        return false;
    }
    std::remove(path.c_str());  // rename does not replace an existing file on Windows
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}
