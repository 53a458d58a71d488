#pragma once
// Stand-ins for the worker threads' platform calls: boxes are recorded, not
// shown; allocation and the Internet handle can be made to fail; buffers
// still held are counted; ending the process ends only the calling thread.
#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

struct RecordedBox {
    std::wstring text;
    std::wstring caption;
    UINT icon;
};

struct RecordingPlatform {
    std::vector<RecordedBox> boxes;
    bool failAllocation = false;
    size_t allocationsAllowed = SIZE_MAX;  // those past this many fail
    size_t allocationsMade = 0;
    int buffersHeld = 0;  // allocated and not released
    bool failInternetOpen = false;
    bool processEnded = false;
    size_t lastAllocation = 0;
    void (*onBox)() = nullptr;  // called as each box is shown
};

extern RecordingPlatform g_platform;

// Runs a thread entry point to its end (or to its EndProcess) and returns.
void RunWorker(LPTHREAD_START_ROUTINE entry);
