#pragma once
// Small packages for the tests, made with the same builder the publisher uses.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "update/package.h"
#include "update/package_builder.h"

using Bytes = std::vector<uint8_t>;

// Plain image: header with the given layout, then `data` bytes 0x00, 0x01, ...
inline Bytes PlainImage(uint16_t firstBlock, uint16_t lastBlock, uint8_t tailPages, size_t dataLength)
{
    Bytes bytes(PACKAGE_HEADER_LENGTH, 0);
    for (size_t i = 0; i < dataLength; ++i) bytes.push_back(static_cast<uint8_t>(i * 7 + 1));
    bytes[27] = tailPages;
    WriteBigEndian16(bytes.data() + 28, firstBlock);
    WriteBigEndian16(bytes.data() + 30, lastBlock);
    return bytes;
}

// Plain catalogue: status 2, `body` behind the header (records and the closing 0).
inline Bytes PlainCatalogue(const Bytes& body, uint8_t status = 2)
{
    Bytes bytes(PACKAGE_HEADER_LENGTH, 0);
    bytes[10] = status;
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

inline Bytes Sealed(int mode, Bytes plain, const char* id)
{
    SealPackage(mode, plain, id);
    return plain;
}

inline Bytes RecordBytes(const std::string& name, uint32_t size, const std::u16string& description)
{
    Bytes body;
    AppendCatalogueRecord(body, name, size, description);
    return body;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Runs the check over a copy held in a buffer of exactly `capacity` bytes
// (the package's own size unless given), so that any read past it is a heap
// overflow the sanitizers report.
struct CheckRun {
    int32_t code;
    Bytes after;
};
inline CheckRun Check(int mode, const Bytes& stored, uint32_t length, const char* id, size_t capacity = 0)
{
    if (capacity == 0) capacity = stored.size();
    Bytes buffer(capacity, 0);
    std::copy(stored.begin(), stored.begin() + std::min(stored.size(), capacity), buffer.begin());
    const int32_t code = CheckPackage(mode, buffer.data(), length, id, capacity);
    return {code, buffer};
}
inline CheckRun Check(int mode, const Bytes& stored, const char* id)
{
    return Check(mode, stored, static_cast<uint32_t>(stored.size()), id);
}
