// Linux: hidapi's hidraw back end for real devices, the local socket for sim:PATH.
#include "cli/device_access.h"

#include <fcntl.h>
#include <hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/hid_transport.h"
#include "cli/socket_transport_posix.h"
#include "device/device_ids.h"

namespace {

// The open device and the lock on its node, released after hidapi lets go.
class CHidapiDevice : public CHidDevice {
public:
    CHidapiDevice(hid_device* handle, int lockFd) : m_handle(handle), m_lockFd(lockFd) {}
    ~CHidapiDevice() override
    {
        hid_close(m_handle);
        close(m_lockFd);
    }
    int Write(const uint8_t* data, size_t length) override { return hid_write(m_handle, data, length); }
    int Read(uint8_t* data, size_t length, int ms) override { return hid_read_timeout(m_handle, data, length, ms); }

private:
    hid_device* m_handle;
    int m_lockFd;
};

// Why a real device node cannot be opened; hidapi does not say, the node does.
OpenStatus Unopenable(const std::string& path, const std::string& reason, std::string& detail)
{
    if (access(path.c_str(), F_OK) != 0) {
        detail = "no such device: " + path;
        return OpenStatus::NOT_FOUND;
    }
    if (access(path.c_str(), R_OK | W_OK) != 0) {
        detail = "no permission to open " + path +
                 " (install the ruvo-flash package for its udev rule and replug the device; without a desktop"
                 " session, join the plugdev group; see man ruvo-flash)";
        return OpenStatus::NO_ACCESS;
    }
    detail = "cannot open " + path + ": " + reason;
    return OpenStatus::FAILED;
}

// Takes the node's advisory lock on a descriptor of its own (hidapi keeps
// its descriptor to itself), before hidapi opens the device: a second
// ruvo-flash then sends nothing, not even the read of the record. hidraw
// gives every opener its own copy of the input reports, so this idle opener
// takes nothing from the one that talks to the device. A file system
// without locks leaves the device unlocked rather than unusable.
OpenStatus LockNode(const std::string& path, int& lockFd, std::string& detail)
{
    lockFd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (lockFd < 0) return Unopenable(path, std::strerror(errno), detail);
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(lockFd);
        lockFd = -1;
        detail = "device " + path + " is in use by another ruvo-flash; try again when it has finished";
        return OpenStatus::IN_USE;
    }
    return OpenStatus::OK;
}

std::string WideText(const wchar_t* text)
{
    std::string narrow;
    for (; text != nullptr && *text != L'\0'; ++text) narrow += *text < 0x80 ? char(*text) : '?';
    return narrow;
}

}  // namespace

std::vector<std::string> ListDevicePaths()
{
    std::vector<std::string> paths;
    if (hid_init() != 0) return paths;
    hid_device_info* list = hid_enumerate(DEVICE_VENDOR_ID, DEVICE_PRODUCT_ID);
    for (hid_device_info* d = list; d != nullptr; d = d->next)
        if (d->path != nullptr) paths.emplace_back(d->path);
    hid_free_enumeration(list);
    return paths;
}

OpenStatus OpenDevicePath(const std::string& path, OpenedDevice& out, std::string& detail)
{
    out.path = path;
    if (path.compare(0, std::strlen(SIM_PREFIX), SIM_PREFIX) == 0) {
        auto socket = std::make_unique<CSocketTransport>();
        const std::string socketPath = path.substr(std::strlen(SIM_PREFIX));
        switch (socket->Open(socketPath)) {
        case OpenStatus::OK:
            out.transport = std::move(socket);
            return OpenStatus::OK;
        case OpenStatus::NOT_FOUND:
            detail = "no simulated device listens at " + socketPath;
            return OpenStatus::NOT_FOUND;
        case OpenStatus::NO_ACCESS:
            detail = "no permission to open " + socketPath;
            return OpenStatus::NO_ACCESS;
        case OpenStatus::IN_USE:
        case OpenStatus::FAILED:
            break;
        }
        detail = std::string("cannot connect to ") + socketPath + ": " + std::strerror(errno);
        return OpenStatus::FAILED;
    }

    if (hid_init() != 0) {
        detail = "hidapi cannot start";
        return OpenStatus::FAILED;
    }
    int lockFd = -1;
    const OpenStatus locked = LockNode(path, lockFd, detail);
    if (locked != OpenStatus::OK) return locked;
    hid_device* handle = hid_open_path(path.c_str());
    if (handle == nullptr) {
        close(lockFd);
        return Unopenable(path, WideText(hid_error(nullptr)), detail);
    }
    auto device = std::make_shared<CHidapiDevice>(handle, lockFd);
    out.transport = std::make_unique<CHidTransport>(*device);
    out.keepAlive = device;
    return OpenStatus::OK;
}
