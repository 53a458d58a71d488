#include "tools/simulator/pipe_server.h"

#include <cstdio>
#include <thread>
#include <vector>

namespace {
// Generous for a single report; a write to a reader that stopped reading is
// dropped after this instead of holding the device for good.
// Pacing lag that counts as the device having sat idle (see Pause).
constexpr LONGLONG PACING_IDLE_RESTART_US = 2500;

constexpr DWORD SEND_TIMEOUT_MS = 10000;
// Larger than a report, so an oversized message is seen (and logged) whole.
constexpr DWORD RECEIVE_BUFFER = 1024;
// Room for several whole read answers queued towards the client.
constexpr DWORD OUT_BUFFER = REPORT_SIZE * 256;
// No inbound room: a client write completes only by filling the read the
// device has pending, i.e. when the device has taken the report, as on a
// real HID endpoint. A device that vanishes after a given report then fails
// the very next write instead of some queued ones later. It costs nothing
// measurable here (the device always has its read pending).
constexpr DWORD IN_BUFFER = 0;
}  // namespace

struct PipeServer::Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE ioEvent = nullptr;    // connect and receive on the instance's own thread
    HANDLE sendEvent = nullptr;  // reports sent to it from a writer's thread
    uint64_t order = 0;
    bool wrote = false;          // a writer: the client sent data on it
    bool isReader = false;       // paired as some writer's reader
    Instance* reader = nullptr;  // for a writer: where its input reports go
    std::thread thread;
};

PipeServer::PipeServer(SimulatedDevice& device, PipeServerConfig config)
    : m_device(device),
      m_config(std::move(config)),
      m_stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_unplugEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    QueryPerformanceFrequency(&m_frequency);
}

PipeServer::~PipeServer()
{
    Stop();
    CloseHandle(m_stopEvent);
    CloseHandle(m_unplugEvent);
}

bool PipeServer::Start()
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (unsigned i = 0; i < m_config.spares; ++i)
        if (!AddListener()) return false;
    return true;
}

bool PipeServer::Unplugged() const
{
    return WaitForSingleObject(m_unplugEvent, 0) == WAIT_OBJECT_0;
}

void PipeServer::WithDevice(const std::function<void(SimulatedDevice&)>& action)
{
    std::lock_guard<std::mutex> guard(m_lock);
    action(m_device);
}

// The instance exists (and clients can open it) once CreateNamedPipeW returns;
// its thread then waits for the client.
bool PipeServer::AddListener()
{
    if (m_stopping || Unplugged()) return false;
    HANDLE pipe = CreateNamedPipeW(m_config.pipePath.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                   OUT_BUFFER, IN_BUFFER, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "ruvo-sim: CreateNamedPipe failed (%lu)\n", GetLastError());
        return false;
    }
    auto instance = std::make_unique<Instance>();
    instance->pipe = pipe;
    instance->ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    instance->sendEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    instance->order = m_nextOrder++;
    Instance* raw = instance.get();
    m_instances.push_back(std::move(instance));
    raw->thread = std::thread(&PipeServer::Serve, this, raw);
    return true;
}

void PipeServer::Close(Instance* instance)
{
    if (instance->pipe == INVALID_HANDLE_VALUE) return;
    DisconnectNamedPipe(instance->pipe);
    CloseHandle(instance->pipe);
    instance->pipe = INVALID_HANDLE_VALUE;
}

// Waits for `overlapped` to finish, or for stop/unplug; in that case the I/O
// is cancelled and completed before returning false.
// Finished I/O wins over stop and unplug, so nothing that happened is lost.
static bool Await(HANDLE pipe, OVERLAPPED& overlapped, HANDLE stop, HANDLE unplug, DWORD timeout, DWORD& moved)
{
    HANDLE events[3] = {overlapped.hEvent, stop, unplug};
    const DWORD waited = WaitForMultipleObjects(3, events, FALSE, timeout);
    if (waited == WAIT_OBJECT_0) return GetOverlappedResult(pipe, &overlapped, &moved, FALSE) != 0;
    CancelIo(pipe);
    GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
    SetLastError(ERROR_OPERATION_ABORTED);
    return false;
}

void PipeServer::Serve(Instance* instance)
{
    HANDLE pipe = instance->pipe;  // only this thread closes it (under m_lock)
    OVERLAPPED overlapped = {};
    overlapped.hEvent = instance->ioEvent;
    DWORD moved = 0;
    bool connected = ConnectNamedPipe(pipe, &overlapped) != 0;
    bool gone = false;  // a client came and closed again before we looked (a probe)
    if (!connected) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            connected = true;
        else if (error == ERROR_NO_DATA)
            gone = true;
        else if (error == ERROR_IO_PENDING)
            connected = Await(pipe, overlapped, m_stopEvent, m_unplugEvent, INFINITE, moved);
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (connected || gone) {
            ++m_connections;
            AddListener();  // this instance is taken: keep the spares listening
        }
        if (!connected) {
            Close(instance);
            return;
        }
    }

    std::vector<uint8_t> buffer(RECEIVE_BUFFER);
    for (;;) {
        // A hung device takes nothing more: with no read pending and no
        // inbound buffer, the client's next write stays pending.
        bool hung;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            hung = m_device.Hung();
        }
        if (hung) {
            HANDLE events[2] = {m_stopEvent, m_unplugEvent};
            WaitForMultipleObjects(2, events, FALSE, INFINITE);
            break;
        }
        overlapped = {};
        overlapped.hEvent = instance->ioEvent;
        ResetEvent(instance->ioEvent);
        bool done = ReadFile(pipe, buffer.data(), RECEIVE_BUFFER, nullptr, &overlapped) != 0;
        DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (!done && error == ERROR_IO_PENDING) {
            done = Await(pipe, overlapped, m_stopEvent, m_unplugEvent, INFINITE, moved);
            error = done ? ERROR_SUCCESS : GetLastError();
        } else if (done || error == ERROR_MORE_DATA) {
            GetOverlappedResult(pipe, &overlapped, &moved, FALSE);
        }
        if (done) {
            Received(instance, buffer.data(), moved);
        } else if (error == ERROR_MORE_DATA) {
            // An oversized message: drain it, then let the device see its size.
            size_t total = moved;
            for (;;) {
                overlapped = {};
                overlapped.hEvent = instance->ioEvent;
                const BOOL read = ReadFile(pipe, buffer.data(), RECEIVE_BUFFER, nullptr, &overlapped);
                const DWORD readError = read ? ERROR_SUCCESS : GetLastError();
                if (!read && readError != ERROR_MORE_DATA && readError != ERROR_IO_PENDING) break;
                DWORD more = 0;
                const BOOL finished = GetOverlappedResult(pipe, &overlapped, &more, TRUE);
                total += more;
                if (finished || GetLastError() != ERROR_MORE_DATA) break;
            }
            Received(instance, nullptr, total);
        } else {
            break;  // client closed, unplugged or stopping
        }
        if (Unplugged()) break;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    Close(instance);
}

void PipeServer::Received(Instance* instance, const uint8_t* data, size_t length)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_device.Unplugged()) return;
    instance->wrote = true;
    m_currentWriter = instance;
    m_lastWriter = instance;
    static const uint8_t none[REPORT_SIZE] = {};
    m_device.ReceiveReport(data != nullptr ? data : none, length, *this);
    m_currentWriter = nullptr;
    if (m_device.Unplugged()) SetEvent(m_unplugEvent);
}

// The program opens the device three times: a probe (closed at once), then
// a reader and a writer, and the order in which the opens arrive here is not
// reliable. The writer is the instance that sends; its reader is the live
// instance of the same client process that never sent. Should several
// qualify, the newest wins.
PipeServer::Instance* PipeServer::FindReader(Instance* writer)
{
    ULONG writerProcess = 0;
    if (!GetNamedPipeClientProcessId(writer->pipe, &writerProcess)) return nullptr;
    Instance* best = nullptr;
    for (auto& candidate : m_instances) {
        Instance* c = candidate.get();
        if (c == writer || c->wrote || c->isReader || c->pipe == INVALID_HANDLE_VALUE) continue;
        ULONG process = 0;
        DWORD available = 0;
        if (!GetNamedPipeClientProcessId(c->pipe, &process) || process != writerProcess) continue;
        if (!PeekNamedPipe(c->pipe, nullptr, 0, nullptr, &available, nullptr)) continue;  // a closed probe
        if (best == nullptr || c->order > best->order) best = c;
    }
    if (best != nullptr) best->isReader = true;
    return best;
}

void PipeServer::SendReport(const uint8_t (&report)[REPORT_SIZE])
{
    Instance* writer = m_currentWriter;
    if (writer == nullptr) return;
    if (writer->reader == nullptr || writer->reader->pipe == INVALID_HANDLE_VALUE) writer->reader = FindReader(writer);
    if (writer->reader == nullptr) {
        std::fprintf(stderr, "ruvo-sim: no reading handle open, input report dropped\n");
        return;
    }
    SendTo(writer->reader, report, REPORT_SIZE);
}

bool PipeServer::SendTo(Instance* reader, const uint8_t* data, size_t length)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = reader->sendEvent;
    ResetEvent(reader->sendEvent);
    DWORD moved = 0;
    if (WriteFile(reader->pipe, data, static_cast<DWORD>(length), nullptr, &overlapped)) return true;
    if (GetLastError() != ERROR_IO_PENDING) return false;  // the reader went away
    return Await(reader->pipe, overlapped, m_stopEvent, m_unplugEvent, SEND_TIMEOUT_MS, moved);
}

unsigned PipeServer::Connections()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connections;
}

bool PipeServer::SendRaw(const uint8_t* data, size_t length)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Instance* writer = m_lastWriter;
    if (writer == nullptr || writer->pipe == INVALID_HANDLE_VALUE) return false;
    if (writer->reader == nullptr || writer->reader->pipe == INVALID_HANDLE_VALUE) writer->reader = FindReader(writer);
    return writer->reader != nullptr && SendTo(writer->reader, data, length);
}

void PipeServer::LogCommand(const char* line)
{
    if (m_config.commandLog) m_config.commandLog(line);
}

// Pacing keeps an account of time owed, so sub-millisecond delays add up to
// the right average rate with the system's millisecond sleeps.
void PipeServer::Pause(uint32_t microseconds)
{
    // The device keeps an absolute schedule: a report takes its slot whether
    // or not the previous Sleep overshot, so overshoots are caught up instead
    // of adding up (Sleep(1) lasts about 1.09 ms). Only a device that sat idle
    // longer than a couple of reports, waiting for a slow host, starts afresh.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const LONGLONG idle = PACING_IDLE_RESTART_US * m_frequency.QuadPart / 1000000;
    if (m_pacedUntil < now.QuadPart - idle) m_pacedUntil = now.QuadPart;
    m_pacedUntil += static_cast<LONGLONG>(microseconds) * m_frequency.QuadPart / 1000000;
    const LONGLONG owedMs = (m_pacedUntil - now.QuadPart) * 1000 / m_frequency.QuadPart;
    if (owedMs >= 1) Sleep(static_cast<DWORD>(owedMs));
}

void PipeServer::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    SetEvent(m_stopEvent);
    for (;;) {
        std::thread thread;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (auto& instance : m_instances) {
                if (instance->thread.joinable()) {
                    thread = std::move(instance->thread);
                    break;
                }
            }
        }
        if (!thread.joinable()) break;
        thread.join();
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& instance : m_instances) {
        Close(instance.get());
        if (instance->ioEvent) CloseHandle(instance->ioEvent);
        if (instance->sendEvent) CloseHandle(instance->sendEvent);
        instance->ioEvent = instance->sendEvent = nullptr;
    }
    m_instances.clear();
    m_lastWriter = nullptr;
}
