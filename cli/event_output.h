#pragma once
// The three ways ruvo-flash shows its events: a progress bar on a terminal,
// plain lines otherwise, or JSON lines (--json). Portable: they write to
// the FILE streams given.
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/flash_events.h"

// The JSON lines' format version; docs/cli.md describes every field.
constexpr int JSON_FORMAT_VERSION = 1;

enum class OutputStyle { TERMINAL, PLAIN, JSON };

// Results go to `out`, progress and failures to `err` (JSON: all to `out`).
// Texts are escaped for a terminal (update/display_text.h), JSON strings
// by JsonString.
std::unique_ptr<CFlashEvents> MakeEventOutput(OutputStyle style, FILE* out, FILE* err);

// A JSON string literal, quotes included, and valid UTF-8 whatever `text`
// holds: controls (C0, DEL, C1) and bytes outside valid UTF-8 become \u00NN.
std::string JsonString(const std::string& text);

// Several devices on one terminal: one line each, redrawn in place at most
// ten times a second (and at once for a device's start, end and failure).
class CProgressBoard {
public:
    CProgressBoard(FILE* err, size_t rows);
    void Set(size_t row, const std::string& text, bool force);

private:
    std::mutex m_mutex;
    FILE* m_err;
    std::vector<std::string> m_rows;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// The events of one of several devices: its own board line on a terminal,
// lines prefixed with its path otherwise, JSON lines that carry its path.
std::unique_ptr<CFlashEvents> MakeDeviceEventOutput(OutputStyle style, FILE* out, FILE* err, const std::string& path,
                                                    size_t row, CProgressBoard* board);
