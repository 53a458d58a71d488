// Linux: hidapi's hidraw back end for real devices, the local socket for sim:PATH.
#include "cli/device_access.h"

#include <hidapi.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/hid_transport.h"
#include "cli/socket_transport_posix.h"
#include "device/device_ids.h"

namespace {

class CHidapiDevice : public CHidDevice {
public:
    explicit CHidapiDevice(hid_device* handle) : m_handle(handle) {}
    ~CHidapiDevice() override { hid_close(m_handle); }
    int Write(const uint8_t* data, size_t length) override { return hid_write(m_handle, data, length); }
    int Read(uint8_t* data, size_t length, int ms) override { return hid_read_timeout(m_handle, data, length, ms); }

private:
    hid_device* m_handle;
};

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
        case OpenResult::OK:
            out.transport = std::move(socket);
            return OpenStatus::OK;
        case OpenResult::NOT_FOUND:
            detail = "no simulated device listens at " + socketPath;
            return OpenStatus::NOT_FOUND;
        case OpenResult::NO_ACCESS:
            detail = "no permission to open " + socketPath;
            return OpenStatus::NO_ACCESS;
        case OpenResult::FAILED:
            break;
        }
        detail = std::string("cannot connect to ") + socketPath + ": " + std::strerror(errno);
        return OpenStatus::FAILED;
    }

    if (hid_init() != 0) {
        detail = "hidapi cannot start";
        return OpenStatus::FAILED;
    }
    hid_device* handle = hid_open_path(path.c_str());
    if (handle == nullptr) {
        // hidapi does not say why; the device node does.
        if (access(path.c_str(), F_OK) != 0) {
            detail = "no such device: " + path;
            return OpenStatus::NOT_FOUND;
        }
        if (access(path.c_str(), R_OK | W_OK) != 0) {
            detail = "no permission to open " + path + " (install cli/70-ruvo.rules, see docs/cli.md)";
            return OpenStatus::NO_ACCESS;
        }
        detail = "cannot open " + path + ": " + WideText(hid_error(nullptr));
        return OpenStatus::FAILED;
    }
    auto device = std::make_shared<CHidapiDevice>(handle);
    out.transport = std::make_unique<CHidTransport>(*device);
    out.keepAlive = device;
    return OpenStatus::OK;
}
