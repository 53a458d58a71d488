#pragma once
// The three ways ruvo-flash shows its events: a progress bar on a terminal,
// plain lines otherwise, or JSON lines (--json). Portable: they write to
// the FILE streams given.
#include <cstdio>
#include <memory>

#include "cli/flash_events.h"

// The JSON lines' format version; docs/cli.md describes every field.
constexpr int JSON_FORMAT_VERSION = 1;

enum class OutputStyle { TERMINAL, PLAIN, JSON };

// Results go to `out`, progress and failures to `err` (JSON: all to `out`).
std::unique_ptr<CFlashEvents> MakeEventOutput(OutputStyle style, FILE* out, FILE* err);

// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);
