#pragma once
// Whole-file reads and writes for the tool (narrow paths).
#include <cstdint>
#include <string>
#include <vector>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
// Creates missing parent folders.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
