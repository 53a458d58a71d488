#pragma once
// Serves a SimulatedDevice on a named pipe, so the unchanged program (through
// the test-only hid.dll/setupapi.dll) or a test in the same process talks to
// it as to the device. Each client open is a pipe instance of its own; the
// server pairs a client's writing and reading instances by behaviour.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "tools/simulator/sim_device.h"

struct PipeServerConfig {
    std::wstring pipePath;  // \\.\pipe\<name>
    unsigned spares = 4;    // instances listening at all times (one is not enough:
                            // the program's next open would meet ERROR_PIPE_BUSY)
    // Called for every command line, in order, with the device lock held.
    std::function<void(const char* line)> commandLog;
};

class PipeServer : private DeviceLink {
public:
    PipeServer(SimulatedDevice& device, PipeServerConfig config);
    ~PipeServer() override;
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // True once the spare instances listen; a client may open the pipe then.
    bool Start();
    // Ends every instance and joins every thread. The device may be inspected
    // freely afterwards.
    void Stop();
    bool Unplugged() const;

    // Runs `action` on the device under the device lock, for a live look.
    void WithDevice(const std::function<void(SimulatedDevice&)>& action);

    // Client opens served so far (probe opens included).
    unsigned Connections();

    // Test seam: queues `length` raw bytes as one message to the reading handle
    // of the client that last wrote, bypassing the device (which only ever
    // sends whole reports). False when there is no such handle.
    bool SendRaw(const uint8_t* data, size_t length);

private:
    struct Instance;

    bool AddListener();  // with m_lock held
    void Serve(Instance* instance);
    void Received(Instance* instance, const uint8_t* data, size_t length);
    Instance* FindReader(Instance* writer);
    void Close(Instance* instance);  // with m_lock held

    bool SendTo(Instance* reader, const uint8_t* data, size_t length);  // with m_lock held
    void SendReport(const uint8_t (&report)[REPORT_SIZE]) override;
    void LogCommand(const char* line) override;
    void Pause(uint32_t microseconds) override;

    SimulatedDevice& m_device;
    PipeServerConfig m_config;
    HANDLE m_stopEvent;
    HANDLE m_unplugEvent;
    std::mutex m_lock;  // the device, the instance list and every pipe handle
    std::list<std::unique_ptr<Instance>> m_instances;
    uint64_t m_nextOrder = 0;
    bool m_stopping = false;
    Instance* m_currentWriter = nullptr;  // whose command is being executed
    Instance* m_lastWriter = nullptr;
    unsigned m_connections = 0;
    LARGE_INTEGER m_frequency;
    LONGLONG m_pacedUntil = 0;  // performance-counter time owed to pacing
};
