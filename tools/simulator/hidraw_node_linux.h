#pragma once
// The native front end's emulated hidraw node: the simulated device served
// as a FUSE file that behaves, for its openers, as the kernel's hidraw node
// of a full-speed USB HID device does, so that hidapi's hidraw back end and
// Wine's HID stack (winebus) drive it unchanged.
//
// - Every opener has its own queue of input reports (64 at most; when full,
//   new reports are dropped for that opener), as hidraw keeps per open file.
// - A read returns one 64-byte report (no report id): it blocks, or fails
//   with EAGAIN when the file is non-blocking. poll reports POLLIN.
// - A write of 2 to 16384 bytes reaches the device, report id byte first; it
//   completes once the device has taken it, or fails with ETIMEDOUT after
//   5 s when it does not (a hung device), as the USB HID driver's does.
// - Unplugged: reads fail with EIO, writes with ENODEV, poll reports
//   POLLERR|POLLHUP, and the node and its sysfs branch disappear.
// - The ioctls both stacks ask: descriptor size and descriptor, raw info,
//   name, phys and uniq; ENOTTY for the rest.
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "tools/simulator/hidraw_tree_linux.h"
#include "tools/simulator/posix_support.h"
#include "tools/simulator/sim_device.h"

struct fuse_session;
struct fuse_pollhandle;
typedef struct fuse_req* fuse_req_t;

constexpr unsigned HIDRAW_QUEUE_REPORTS = 64;     // per opener
constexpr unsigned HIDRAW_MAX_WRITE = 16384;      // the kernel's largest HID report
constexpr unsigned HIDRAW_WRITE_TIMEOUT_MS = 5000;  // the USB HID driver's bound
constexpr unsigned HIDRAW_MAX_OPENERS = 16;
constexpr unsigned HIDRAW_PENDING_WRITES = 16;

class CHidrawNode : private DeviceLink {
public:
    using CommandLog = std::function<void(const char*)>;
    struct Access {
        unsigned mode = 0660;
        unsigned group = 0;
    };
    CHidrawNode(SimulatedDevice& device, CommandLog log, unsigned index, Access access);
    ~CHidrawNode() override;

    // Lays out the sysfs branch, mounts the node and, once it serves, links
    // /dev/hidrawN to it. False with a reason in `error`.
    bool Start(std::string& error);
    // Serves until `stopFd` reports end of file or "quit", then removes the
    // device and unmounts.
    void Serve(int stopFd);

    // The FUSE operations (static trampolines in the .cpp call these).
    void Open(fuse_req_t req, int flags, uint64_t* handle);
    void Release(uint64_t handle);
    void Read(fuse_req_t req, uint64_t handle, size_t size, int flags);
    void Write(fuse_req_t req, const uint8_t* data, size_t size);
    void Poll(fuse_req_t req, uint64_t handle, fuse_pollhandle* pollHandle);
    void Ioctl(fuse_req_t req, unsigned command, size_t outSize);
    void Attributes(fuse_req_t req);

private:
    struct Report {
        uint8_t bytes[REPORT_PAYLOAD_SIZE];
    };
    struct Opener {
        bool used = false;
        Report queue[HIDRAW_QUEUE_REPORTS];
        unsigned head = 0, count = 0;
        fuse_req_t pendingRead = nullptr;  // a blocked read, answered by the next report
        size_t pendingSize = 0;
        fuse_pollhandle* pollHandle = nullptr;
    };
    struct PendingWrite {
        fuse_req_t req = nullptr;
        uint8_t bytes[REPORT_SIZE] = {};  // the first bytes; the device reads no more
        size_t length = 0;
        uint64_t deadlineNs = 0;
    };

    void SendReport(const uint8_t (&report)[REPORT_SIZE]) override;
    void LogCommand(const char* line) override { m_log(line); }
    void Pause(uint32_t microseconds) override { m_pacer.Pause(microseconds); }

    void RunDevice();
    void UnplugLocked();
    void ExpireWritesLocked(uint64_t now);
    int NextDeadlineMs();
    void NotifyLocked(Opener& opener);

    SimulatedDevice& m_device;
    CommandLog m_log;
    HidrawTree m_tree;
    Access m_access;
    CPacer m_pacer;
    fuse_session* m_session = nullptr;
    bool m_mounted = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;  // a write to take, or stop
    Opener m_openers[HIDRAW_MAX_OPENERS];
    PendingWrite m_writes[HIDRAW_PENDING_WRITES];  // FIFO ring
    unsigned m_writeHead = 0, m_writeCount = 0;
    bool m_gone = false;
    bool m_stopping = false;
    std::thread m_deviceThread;
};
