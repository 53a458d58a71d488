// Windows: CHidIO (the program's own transport) through its adapter. The
// pipe simulator appears as a device through the test-only DLLs, so sim:PATH
// is the Linux simulator's only.
#include "cli/device_access.h"

#include <windows.h>

#include <cstring>

#include "common/wide_text_win32.h"
#include "device/hid_io.h"
#include "device/hid_io_transport.h"

namespace {

// The transport owns its CHidIO, which keeps its handles until it goes.
class COwnedHidIO : public CReportTransport {
public:
    COwnedHidIO() : m_adapter(m_io) {}
    CHidIO& Io() { return m_io; }
    int ReadReport(uint8_t* buffer, uint32_t* count) override { return m_adapter.ReadReport(buffer, count); }
    int WriteReport(const uint8_t* buffer, uint32_t* count) override { return m_adapter.WriteReport(buffer, count); }

private:
    CHidIO m_io;
    CHidIOTransport m_adapter;
};

}  // namespace

std::vector<std::string> ListDevicePaths()
{
    std::vector<std::string> paths;
    for (const std::wstring& path : CHidIO::MatchingDevicePaths()) paths.push_back(Utf8(path));
    return paths;
}

OpenStatus OpenDevicePath(const std::string& path, OpenedDevice& out, std::string& detail)
{
    out.path = path;
    if (path.compare(0, std::strlen(SIM_PREFIX), SIM_PREFIX) == 0) {
        detail = "sim:PATH is the Linux simulator's socket; on Windows a simulated device is listed like a real one";
        return OpenStatus::NOT_FOUND;
    }
    auto transport = std::make_unique<COwnedHidIO>();
    const std::wstring wide = Wide(path);
    switch (transport->Io().OpenDevicePath(wide.c_str())) {
    case 1:
        out.transport = std::move(transport);
        return OpenStatus::OK;
    case -1:
        detail = "no permission to open " + path;
        return OpenStatus::NO_ACCESS;
    default:
        detail = "no device at " + path;
        return OpenStatus::NOT_FOUND;
    }
}
