#pragma once
// Puts one checked image package into the device flash and reads it back,
// over any command port, telling a progress sink where it is. Portable: the
// program's ProgramImage shows the sink's events on its update button, a
// command-line tool draws a bar or prints events.
#include <cstdint>

#include "device/command_port.h"

class CProgressSink {
public:
    virtual ~CProgressSink() = default;
    // Before the first erase: the blocks the image spans (last - first + 1).
    virtual void ImageBegun(uint32_t blockCount) = 0;
    // After full block j was written / verified: blocks left, last - j.
    virtual void BlockWritten(uint32_t blocksLeft) = 0;
    virtual void BlockVerified(uint32_t blocksLeft) = 0;
    // After the last block was erased and its tail written.
    virtual void LastBlockWritten() {}
    // After the last block's read-back.
    virtual void ImageVerified() = 0;
    // Asked before each command; true ends the sequence there, so nothing is
    // left half-sent. The program never asks to stop.
    virtual bool StopRequested() { return false; }
};

struct ProgramOutcome {
    uint32_t mismatches;  // bytes that read back differently (bytes that never arrived count too)
    bool stopped;         // the sink asked to stop before the sequence ended
};

// `package` is an image package that CheckPackage accepted: its header fits
// its body, so every block and the tail lie inside it. The order: the
// begin-image test command, each full block erased then written, the last
// block erased and its tail written, every full block read back, the tail
// read back. A failed command changes nothing in that order.
ProgramOutcome RunProgramSequence(CCommandPort& port, const uint8_t* package, CProgressSink& sink);
