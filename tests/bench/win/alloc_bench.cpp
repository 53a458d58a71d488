// Heap allocations made by the transfers: calls to malloc, calloc, realloc
// and operator new (all forms but the aligned ones) made on the calling
// thread while WritePages, ReadPages and ProgramImage run against the
// in-process simulated device. The transfers should make none.
//
//   alloc_bench        (run with WINEDLLOVERRIDES=hid,setupapi=n)
//
// Linked with --wrap=malloc,--wrap=calloc,--wrap=realloc, and operator new
// is replaced here, so every such call from this program's code (the C++
// runtime and winpthread included) passes a counter. Only calls from the
// thread being measured count: the simulator's server threads share the
// process. Calls that system DLLs make inside themselves (HeapAlloc in
// kernel32, user32, the pipe layer) are not the program's and not seen.
// Prints the counts; ends with 1 only when the counter itself fails its
// check or the device did not take the image.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bench_device.h"
#include "shell/program_image.h"
#include "shell/app_state.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
}

namespace {

// The thread whose calls count, 0 for none. A thread id rather than a
// thread_local flag: emulated TLS allocates on first use, inside malloc.
std::atomic<DWORD> g_countedThread{0};
std::atomic<unsigned> g_mallocs{0}, g_callocs{0}, g_reallocs{0}, g_news{0};

bool Counted()
{
    const DWORD thread = g_countedThread.load(std::memory_order_relaxed);
    return thread != 0 && thread == GetCurrentThreadId();
}

struct Counts {
    unsigned mallocs, callocs, reallocs, news;
    unsigned Total() const { return mallocs + callocs + reallocs + news; }
};

Counts Snapshot()
{
    return {g_mallocs.load(), g_callocs.load(), g_reallocs.load(), g_news.load()};
}

void* CountedNew(size_t size)
{
    if (Counted()) ++g_news;
    void* block = __real_malloc(size ? size : 1);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

}  // namespace

extern "C" {
void* __wrap_malloc(size_t size)
{
    if (Counted()) ++g_mallocs;
    return __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size)
{
    if (Counted()) ++g_callocs;
    return __real_calloc(count, size);
}
void* __wrap_realloc(void* block, size_t size)
{
    if (Counted()) ++g_reallocs;
    return __real_realloc(block, size);
}
}

void* operator new(size_t size)
{
    return CountedNew(size);
}
void* operator new[](size_t size)
{
    return CountedNew(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    if (Counted()) ++g_news;
    return __real_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete[](void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}
void operator delete[](void* block, size_t) noexcept
{
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

namespace {

// Runs `work` on a worker thread (the main thread serves the progress
// button meanwhile) and returns the calls that thread made inside it.
template <typename Work>
Counts CountOnWorker(Work work)
{
    Counts counts{};
    auto measured = [&] {
        const Counts before = Snapshot();
        g_countedThread = GetCurrentThreadId();
        work();
        g_countedThread = 0;
        const Counts after = Snapshot();
        counts = {after.mallocs - before.mallocs, after.callocs - before.callocs, after.reallocs - before.reallocs,
                  after.news - before.news};
    };
    bench::RunOnWorker(measured);
    return counts;
}

void Print(const char* what, const Counts& c)
{
    std::printf("  %-40s %3u   (malloc %u, calloc %u, realloc %u, new %u)\n", what, c.Total(), c.mallocs, c.callocs,
                c.reallocs, c.news);
}

// Kept out of reach of the optimiser, which may drop a paired malloc/free.
void* volatile g_sink;

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // The counter must see what it claims to count, and nothing from other threads.
    const Counts check = CountOnWorker([] {
        g_sink = std::malloc(16);
        std::free(g_sink);
        g_sink = std::calloc(4, 4);
        g_sink = std::realloc(g_sink, 64);
        std::free(g_sink);
        g_sink = new std::vector<int>(8);
        delete static_cast<std::vector<int>*>(g_sink);
    });
    g_sink = std::malloc(16);  // on the main thread, outside any counted region
    std::free(g_sink);
    if (check.mallocs != 1 || check.callocs != 1 || check.reallocs != 1 || check.news != 2) {
        Print("counter check FAILED (expected 1, 1, 1, 2)", check);
        return 1;
    }

    std::vector<uint8_t> package = bench::CheckedImagePackage(16, 256 * 1024);
    if (package.empty()) return 1;
    bench::Simulator sim{SimulatorOptions()};
    if (!sim.StartAndConnect()) return 1;
    g_app.updateButton = bench::MakeProgressButton();

    const uint8_t* block = package.data() + PACKAGE_HEADER_LENGTH;
    std::vector<uint8_t> readBack(FLASH_BLOCK_SIZE);
    uint32_t written = 0, read = 0, mismatches = ~0u;

    std::printf("allocations on the calling thread during transfers (in-process simulated device)\n");
    Print("counter check: 1 malloc, calloc, realloc; 2 new", check);
    EraseBlock(200);
    for (int round = 1; round <= 2; ++round) {
        const char* suffix = round == 1 ? " (first call)" : " (again)";
        Print((std::string("WritePages, 16 pages") + suffix).c_str(),
              CountOnWorker([&] { written = WritePages(200 * PAGES_PER_BLOCK, PAGES_PER_BLOCK, block); }));
        Print((std::string("ReadPages, 16 pages") + suffix).c_str(),
              CountOnWorker([&] { read = ReadPages(200 * PAGES_PER_BLOCK, PAGES_PER_BLOCK, readBack.data()); }));
        Print((std::string("ProgramImage, 256 KiB") + suffix).c_str(),
              CountOnWorker([&] { mismatches = ProgramImage(package.data(), 'A'); }));
        EraseBlock(200);
    }
    const bool readBackSame = std::memcmp(readBack.data(), block, FLASH_BLOCK_SIZE) == 0;
    if (written != FLASH_BLOCK_SIZE || read != FLASH_BLOCK_SIZE || !readBackSame || mismatches != 0 ||
        !sim.Holds(package)) {
        std::fprintf(stderr, "the device did not take the data: wrote %u, read %u, %u mismatches\n", written, read,
                     mismatches);
        return 1;
    }
    return 0;
}
