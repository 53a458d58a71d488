#pragma once
// Time stamps in logs and release notes: UTC, to the second, in the ISO 8601
// form "2024-05-01T12:34:56Z", so they sort as text and read the same in
// every time zone.
#include <ctime>
#include <string>

std::string UtcTimeStamp(std::time_t when);

// UtcTimeStamp of the present moment.
std::string UtcNow();
