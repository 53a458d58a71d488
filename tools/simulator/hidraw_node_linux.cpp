#define FUSE_USE_VERSION 35
#include "tools/simulator/hidraw_node_linux.h"

#include <fuse_lowlevel.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/device_ids.h"

namespace {

CHidrawNode* Node(fuse_req_t req)
{
    return static_cast<CHidrawNode*>(fuse_req_userdata(req));
}

void OnGetattr(fuse_req_t req, fuse_ino_t, fuse_file_info*)
{
    Node(req)->Attributes(req);
}

void OnSetattr(fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*)
{
    Node(req)->Attributes(req);  // a device node's attributes are the driver's
}

void OnOpen(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    Node(req)->Open(req, fi->flags, &fi->fh);
}

void OnRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi)
{
    Node(req)->Release(fi->fh);
    fuse_reply_err(req, 0);
}

void OnRead(fuse_req_t req, fuse_ino_t, size_t size, off_t, fuse_file_info* fi)
{
    Node(req)->Read(req, fi->fh, size, fi->flags);
}

void OnWrite(fuse_req_t req, fuse_ino_t, const char* data, size_t size, off_t, fuse_file_info*)
{
    Node(req)->Write(req, reinterpret_cast<const uint8_t*>(data), size);
}

void OnPoll(fuse_req_t req, fuse_ino_t, fuse_file_info* fi, fuse_pollhandle* ph)
{
    Node(req)->Poll(req, fi->fh, ph);
}

void OnIoctl(fuse_req_t req, fuse_ino_t, unsigned int cmd, void*, fuse_file_info*, unsigned, const void*, size_t,
             size_t outSize)
{
    Node(req)->Ioctl(req, cmd, outSize);
}

fuse_lowlevel_ops Operations()
{
    fuse_lowlevel_ops ops = {};
    ops.getattr = OnGetattr;
    ops.setattr = OnSetattr;
    ops.open = OnOpen;
    ops.release = OnRelease;
    ops.read = OnRead;
    ops.write = OnWrite;
    ops.poll = OnPoll;
    ops.ioctl = OnIoctl;
    return ops;
}

// A string answer to HIDIOCGRAW{NAME,PHYS,UNIQ}(len): as much as fits, its
// terminator included; the length copied is the result.
void ReplyText(fuse_req_t req, const std::string& text, size_t outSize)
{
    const size_t length = std::min(text.size() + 1, outSize);
    fuse_reply_ioctl(req, int(length), text.c_str(), length);
}

}  // namespace

CHidrawNode::CHidrawNode(SimulatedDevice& device, CommandLog log, unsigned index, Access access)
    : m_device(device), m_log(std::move(log)), m_access(access)
{
    m_tree.index = index;
    m_tree.nodeFile = NodeMountPoint(index);
}

CHidrawNode::~CHidrawNode()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_deviceThread.joinable()) m_deviceThread.join();
    RemoveDevice(m_tree);
    if (m_session != nullptr) {
        if (m_mounted) fuse_session_unmount(m_session);
        fuse_session_destroy(m_session);
    }
    unlink(m_tree.nodeFile.c_str());
}

bool CHidrawNode::Start(std::string& error)
{
    if (!CheckPrivateTree(error) || !AddSysfsBranch(m_tree, error)) return false;
    // The mount point: an empty file in a folder that the stacks ignore.
    const std::string folder = m_tree.nodeFile.substr(0, m_tree.nodeFile.rfind('/'));
    mkdir(folder.c_str(), 0755);
    FILE* placeholder = std::fopen(m_tree.nodeFile.c_str(), "w");
    if (placeholder == nullptr) {
        error = "cannot make " + m_tree.nodeFile + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(placeholder);

    // allow_other and default_permissions: other users may open the node, and
    // the kernel checks its mode and group as for a real one.
    const char* arguments[] = {"ruvo-sim", "-o", "allow_other,default_permissions,fsname=ruvo-hidraw,subtype=ruvo"};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
    const fuse_lowlevel_ops ops = Operations();
    m_session = fuse_session_new(&args, &ops, sizeof ops, this);
    if (m_session == nullptr || fuse_session_mount(m_session, m_tree.nodeFile.c_str()) != 0) {
        error = "cannot mount the node at " + m_tree.nodeFile;
        return false;
    }
    m_mounted = true;
    m_deviceThread = std::thread([this] { RunDevice(); });
    // Opens that arrive before Serve runs wait for it; the node appears in one step.
    return AddDevLink(m_tree, error);
}

void CHidrawNode::Serve(int stopFd)
{
    fuse_buf buffer = {};
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {fuse_session_fd(m_session), POLLIN, 0}};
        if (poll(fds, 2, NextDeadlineMs()) < 0 && errno != EINTR) break;
        if ((fds[0].revents & (POLLIN | POLLHUP)) && StopRequested(stopFd)) break;
        if (fds[1].revents & POLLIN) {
            const int got = fuse_session_receive_buf(m_session, &buffer);
            if (got == -EINTR || got == -EAGAIN) continue;
            if (got <= 0) break;
            fuse_session_process_buf(m_session, &buffer);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        ExpireWritesLocked(MonotonicNowNs());
    }
    std::free(buffer.mem);
    // Unplugged before the device stops: handles fail, the node disappears.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        UnplugLocked();
        m_stopping = true;
    }
    m_wake.notify_all();
    RemoveDevice(m_tree);
}

void CHidrawNode::Attributes(fuse_req_t req)
{
    struct stat attributes = {};
    attributes.st_ino = FUSE_ROOT_ID;
    attributes.st_mode = S_IFREG | m_access.mode;
    attributes.st_nlink = 1;
    attributes.st_uid = 0;
    attributes.st_gid = m_access.group;
    fuse_reply_attr(req, &attributes, 0);
}

void CHidrawNode::Open(fuse_req_t req, int, uint64_t* handle)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_gone) {
        lock.unlock();
        fuse_reply_err(req, ENODEV);
        return;
    }
    for (unsigned i = 0; i < HIDRAW_MAX_OPENERS; ++i) {
        Opener& opener = m_openers[i];
        if (opener.used) continue;
        opener = Opener();
        opener.used = true;
        *handle = i;
        lock.unlock();
        fuse_file_info info = {};
        info.fh = i;
        info.direct_io = 1;  // each read is one report, never a cached page
        info.nonseekable = 1;
        fuse_reply_open(req, &info);
        return;
    }
    lock.unlock();
    fuse_reply_err(req, EMFILE);
}

void CHidrawNode::Release(uint64_t handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (handle >= HIDRAW_MAX_OPENERS) return;
    Opener& opener = m_openers[handle];
    if (opener.pendingRead != nullptr) fuse_reply_err(opener.pendingRead, EINTR);
    if (opener.pollHandle != nullptr) fuse_pollhandle_destroy(opener.pollHandle);
    opener = Opener();
}

void CHidrawNode::Read(fuse_req_t req, uint64_t handle, size_t size, int flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Opener& opener = m_openers[handle % HIDRAW_MAX_OPENERS];
    if (m_gone) {
        fuse_reply_err(req, EIO);
    } else if (opener.count > 0) {
        const Report& report = opener.queue[opener.head];
        fuse_reply_buf(req, reinterpret_cast<const char*>(report.bytes), std::min(size, sizeof report.bytes));
        opener.head = (opener.head + 1) % HIDRAW_QUEUE_REPORTS;
        --opener.count;
    } else if ((flags & O_NONBLOCK) != 0) {
        fuse_reply_err(req, EAGAIN);
    } else if (opener.pendingRead != nullptr) {
        fuse_reply_err(req, EBUSY);  // one blocked reader per open file is all either stack uses
    } else {
        opener.pendingRead = req;
        opener.pendingSize = size;
    }
}

void CHidrawNode::Write(fuse_req_t req, const uint8_t* data, size_t size)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    int error = 0;
    if (m_gone)
        error = ENODEV;
    else if (size < 2 || size > HIDRAW_MAX_WRITE)
        error = EINVAL;  // hidraw's own limits; any other length reaches the device
    else if (m_writeCount == HIDRAW_PENDING_WRITES)
        error = EBUSY;
    if (error != 0) {
        lock.unlock();
        fuse_reply_err(req, error);
        return;
    }
    PendingWrite& write = m_writes[(m_writeHead + m_writeCount++) % HIDRAW_PENDING_WRITES];
    write.req = req;
    write.length = size;
    std::memcpy(write.bytes, data, std::min(size, sizeof write.bytes));
    write.deadlineNs = MonotonicNowNs() + uint64_t(HIDRAW_WRITE_TIMEOUT_MS) * 1000000u;
    lock.unlock();
    m_wake.notify_all();
}

void CHidrawNode::Poll(fuse_req_t req, uint64_t handle, fuse_pollhandle* pollHandle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Opener& opener = m_openers[handle % HIDRAW_MAX_OPENERS];
    if (pollHandle != nullptr) {
        if (opener.pollHandle != nullptr) fuse_pollhandle_destroy(opener.pollHandle);
        opener.pollHandle = pollHandle;
    }
    unsigned events = POLLOUT | POLLWRNORM;  // hidraw is always writable
    if (opener.count > 0) events |= POLLIN | POLLRDNORM;
    if (m_gone) events |= POLLERR | POLLHUP;
    fuse_reply_poll(req, events);
}

void CHidrawNode::Ioctl(fuse_req_t req, unsigned command, size_t outSize)
{
    if (command == HIDIOCGRDESCSIZE && outSize >= sizeof(int)) {
        const int size = int(HIDRAW_REPORT_DESCRIPTOR_SIZE);
        fuse_reply_ioctl(req, 0, &size, sizeof size);
    } else if (command == HIDIOCGRDESC && outSize >= sizeof(hidraw_report_descriptor)) {
        hidraw_report_descriptor descriptor = {};
        descriptor.size = HIDRAW_REPORT_DESCRIPTOR_SIZE;
        std::memcpy(descriptor.value, HIDRAW_REPORT_DESCRIPTOR, HIDRAW_REPORT_DESCRIPTOR_SIZE);
        fuse_reply_ioctl(req, 0, &descriptor, sizeof descriptor);
    } else if (command == HIDIOCGRAWINFO && outSize >= sizeof(hidraw_devinfo)) {
        hidraw_devinfo info = {};
        info.bustype = 3;  // BUS_USB
        info.vendor = int16_t(DEVICE_VENDOR_ID);
        info.product = int16_t(DEVICE_PRODUCT_ID);
        fuse_reply_ioctl(req, 0, &info, sizeof info);
    } else if (command == HIDIOCGRAWNAME(outSize)) {
        ReplyText(req, HidrawName(), outSize);
    } else if (command == HIDIOCGRAWPHYS(outSize)) {
        ReplyText(req, HidrawPhys(m_tree.index), outSize);
    } else if (command == HIDIOCGRAWUNIQ(outSize)) {
        ReplyText(req, HidrawUniq(m_tree.index), outSize);
    } else {
        fuse_reply_err(req, ENOTTY);  // Wine also asks evdev's ioctls
    }
}

// Called by the device (on the device thread) for each input report: every
// opener gets its own copy, or loses it when its queue is full.
void CHidrawNode::SendReport(const uint8_t (&report)[REPORT_SIZE])
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_gone) return;
    const uint8_t* payload = report + 1;  // no report ids: byte 0 never reaches the host
    for (Opener& opener : m_openers) {
        if (!opener.used) continue;
        if (opener.pendingRead != nullptr) {
            fuse_reply_buf(opener.pendingRead, reinterpret_cast<const char*>(payload),
                           std::min(opener.pendingSize, size_t(REPORT_PAYLOAD_SIZE)));
            opener.pendingRead = nullptr;
            continue;
        }
        if (opener.count == HIDRAW_QUEUE_REPORTS) continue;
        Report& slot = opener.queue[(opener.head + opener.count++) % HIDRAW_QUEUE_REPORTS];
        std::memcpy(slot.bytes, payload, sizeof slot.bytes);
        NotifyLocked(opener);
    }
}

void CHidrawNode::NotifyLocked(Opener& opener)
{
    if (opener.pollHandle == nullptr) return;
    fuse_lowlevel_notify_poll(opener.pollHandle);
    fuse_pollhandle_destroy(opener.pollHandle);
    opener.pollHandle = nullptr;
}

// The device side: takes one written report at a time, in order, and only
// when it is neither hung nor gone; a write completes once it is taken.
void CHidrawNode::RunDevice()
{
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopping || (m_writeCount > 0 && !m_gone && !m_device.Hung()); });
        if (m_stopping) return;
        const PendingWrite write = m_writes[m_writeHead];
        m_writeHead = (m_writeHead + 1) % HIDRAW_PENDING_WRITES;
        --m_writeCount;
        if (m_device.FailThisWrite()) {
            fuse_reply_err(write.req, EIO);  // the transfer failed; the device never saw it
            continue;
        }
        lock.unlock();
        fuse_reply_write(write.req, write.length);
        if (write.length >= 1 && write.bytes[0] != 0) {
            // A numbered report: this device has none, so it never arrives whole.
            char line[32];
            std::snprintf(line, sizeof line, "BAD report-id %02X", write.bytes[0]);
            m_log(line);
            continue;
        }
        m_device.ReceiveReport(write.bytes, write.length, *this);
        if (m_device.Unplugged()) {
            {
                std::lock_guard<std::mutex> relock(m_mutex);
                UnplugLocked();
            }
            RemoveDevice(m_tree);
        }
    }
}

// Gone: blocked reads fail with EIO, waiting writes with ENODEV, and pollers
// are told (POLLERR|POLLHUP).
void CHidrawNode::UnplugLocked()
{
    if (m_gone) return;
    m_gone = true;
    for (Opener& opener : m_openers) {
        if (!opener.used) continue;
        if (opener.pendingRead != nullptr) fuse_reply_err(opener.pendingRead, EIO);
        opener.pendingRead = nullptr;
        NotifyLocked(opener);
    }
    for (; m_writeCount > 0; --m_writeCount) {
        fuse_reply_err(m_writes[m_writeHead].req, ENODEV);
        m_writeHead = (m_writeHead + 1) % HIDRAW_PENDING_WRITES;
    }
}

// Writes the device has not taken within the USB HID driver's bound fail as
// its do, with ETIMEDOUT. Only the oldest can be due first.
void CHidrawNode::ExpireWritesLocked(uint64_t now)
{
    while (m_writeCount > 0 && m_writes[m_writeHead].deadlineNs <= now) {
        fuse_reply_err(m_writes[m_writeHead].req, ETIMEDOUT);
        m_writeHead = (m_writeHead + 1) % HIDRAW_PENDING_WRITES;
        --m_writeCount;
    }
}

int CHidrawNode::NextDeadlineMs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_writeCount == 0) return 1000;
    const uint64_t now = MonotonicNowNs();
    const uint64_t due = m_writes[m_writeHead].deadlineNs;
    return due <= now ? 0 : int((due - now) / 1000000u) + 1;
}
