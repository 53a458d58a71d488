// Packages in their stored form, made with the same transformation the check undoes.
#include "update/package_builder.h"

#include <cstddef>
#include <cstring>

#include "update/catalogue.h"

namespace {

// A package's plain bytes begin with its header.
PackageHeader HeaderOf(const std::vector<uint8_t>& package)
{
    PackageHeader header;
    std::memcpy(&header, package.data(), sizeof header);
    return header;
}

void PutHeader(std::vector<uint8_t>& package, const PackageHeader& header)
{
    std::memcpy(package.data(), &header, sizeof header);
}

}  // namespace

void SetPackageChecks(uint8_t* package, size_t length)
{
    const PackageChecks checks = ComputePackageChecks(package, length);
    package[offsetof(PackageHeader, xorCheck)] = checks.xorValue;
    package[offsetof(PackageHeader, sumCheck)] = checks.sumValue;
}

void SealPackage(int mode, std::vector<uint8_t>& package, const char* id)
{
    PackageHeader header = HeaderOf(package);
    std::memcpy(header.magic, PACKAGE_MAGIC, sizeof header.magic);
    std::memcpy(header.packageId, id, sizeof header.packageId);
    SetPackageTotalLength(header, static_cast<uint32_t>(package.size()));
    PutHeader(package, header);
    SetPackageChecks(package.data(), package.size());
    ObfuscatePackage(mode, package.data(), package.size(), id);
}

bool PlanImageLayout(uint32_t firstBlock, size_t dataLength, ImageLayout* layout, std::string* error)
{
    if (dataLength == 0) {
        *error = "the firmware is empty";
        return false;
    }
    const uint64_t pages = (uint64_t{dataLength} + FLASH_PAGE_SIZE - 1) / FLASH_PAGE_SIZE;
    const uint64_t tailPages = (pages - 1) % PAGES_PER_BLOCK + 1;
    const uint64_t lastBlock = firstBlock + (pages - tailPages) / PAGES_PER_BLOCK;
    if (lastBlock >= FLASH_BLOCK_COUNT) {
        *error = "the firmware does not fit the flash from block " + std::to_string(firstBlock) + " on (" +
                 std::to_string(FLASH_BLOCK_COUNT) + " blocks of 4096 bytes)";
        return false;
    }
    layout->firstBlock = static_cast<uint16_t>(firstBlock);
    layout->lastBlock = static_cast<uint16_t>(lastBlock);
    layout->tailPages = static_cast<uint8_t>(tailPages);
    return true;
}

bool BuildImagePackage(const char* id, uint32_t firstBlock, const std::vector<uint8_t>& firmware,
                       std::vector<uint8_t>* package, std::string* error)
{
    ImageLayout layout;
    if (!PlanImageLayout(firstBlock, firmware.size(), &layout, error)) return false;
    PackageHeader header{};
    header.tailPages = layout.tailPages;
    SetPackageFirstBlock(header, layout.firstBlock);
    SetPackageLastBlock(header, layout.lastBlock);
    const size_t dataLength = static_cast<size_t>(PackageImageDataLength(header));
    std::vector<uint8_t> bytes(PACKAGE_HEADER_LENGTH + dataLength, 0xFF);
    PutHeader(bytes, header);
    std::memcpy(bytes.data() + PACKAGE_HEADER_LENGTH, firmware.data(), firmware.size());
    SealPackage(PACKAGE_IMAGE, bytes, id);
    *package = std::move(bytes);
    return true;
}

void AppendCatalogueRecord(std::vector<uint8_t>& body, const std::string& name, uint32_t size,
                           const std::u16string& description)
{
    body.insert(body.end(), name.begin(), name.end());
    body.push_back(0);
    uint8_t sizeBytes[4];
    WriteBigEndian32(sizeBytes, size);
    body.insert(body.end(), sizeBytes, sizeBytes + 4);
    for (char16_t unit : description) {
        body.push_back(static_cast<uint8_t>(unit & 0xFF));
        body.push_back(static_cast<uint8_t>(unit >> 8));
    }
    body.push_back(0);
    body.push_back(0);
}

bool BuildCataloguePackage(const char* id, uint8_t status, const std::vector<CatalogueRecordInput>& records,
                           std::vector<uint8_t>* package, std::string* error)
{
    if (records.size() > static_cast<size_t>(MAX_CATALOGUE_ENTRIES)) {
        *error = "a catalogue holds at most " + std::to_string(MAX_CATALOGUE_ENTRIES) + " records";
        return false;
    }
    PackageHeader header{};
    header.status = status;
    std::vector<uint8_t> bytes(PACKAGE_HEADER_LENGTH);
    PutHeader(bytes, header);
    for (const CatalogueRecordInput& record : records) {
        if (record.name.empty() || record.name.size() > static_cast<size_t>(CATALOGUE_NAME_MAX) ||
            record.name.find('\0') != std::string::npos) {
            *error = "record name \"" + record.name + "\" must have 1 to 31 characters";
            return false;
        }
        if (record.size > static_cast<uint32_t>(CATALOGUE_MAX_RECORD_SIZE)) {
            *error = "record \"" + record.name + "\" announces " + std::to_string(record.size) +
                     " bytes, more than an image package can have";
            return false;
        }
        if (record.description.size() > static_cast<size_t>(CATALOGUE_DESCRIPTION_MAX) ||
            record.description.find(u'\0') != std::u16string::npos) {
            *error = "the description of record \"" + record.name + "\" has " +
                     std::to_string(record.description.size()) + " UTF-16 code units; at most " +
                     std::to_string(CATALOGUE_DESCRIPTION_MAX) + " fit the option list";
            return false;
        }
        AppendCatalogueRecord(bytes, record.name, record.size, record.description);
    }
    bytes.push_back(0);  // end of the list
    if (bytes.size() > CATALOGUE_MAX_LENGTH) {
        *error = "the catalogue would be " + std::to_string(bytes.size()) + " bytes; the updater takes at most " +
                 std::to_string(CATALOGUE_MAX_LENGTH);
        return false;
    }
    SealPackage(PACKAGE_CATALOGUE, bytes, id);
    *package = std::move(bytes);
    return true;
}
