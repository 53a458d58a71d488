// The program's command operations: the portable command port over the one
// global g_hidCmd (its report buffer and its CHidIO) and g_commandBlock.
#include "device/hid_cmd.h"

#include "device/command_port.h"
#include "device/hid_io_transport.h"

#include <type_traits>

#include "common/never_destroyed.h"

CHidCmd g_hidCmd;
CommandBlock g_commandBlock;

CHidCmd::CHidCmd() : m_report{} {}

CHidCmd::~CHidCmd() = default;

namespace {

// Never destroyed: a worker may still send a report through them while the
// process ends. Both only refer to g_hidCmd's members, so they need nothing
// of it at construction.
CNeverDestroyed<CHidIOTransport> g_hidTransport(g_hidCmd.m_io);
CNeverDestroyed<CCommandPort> g_hidPort(g_hidTransport.Get(), g_hidCmd.m_report, g_commandBlock);
static_assert(std::is_trivially_destructible<CNeverDestroyed<CCommandPort>>::value, "nothing runs at exit");

}  // namespace

CCommandPort& GlobalCommandPort()
{
    return g_hidPort.Get();
}

int Connect()
{
    return g_hidCmd.m_io.OpenDevice();
}

void SendTestCommand(uint32_t subCode, uint32_t value)
{
    g_hidPort.Get().SendTestCommand(subCode, value);
}

int EraseBlock(uint32_t block)
{
    return g_hidPort.Get().EraseBlock(block);
}

uint32_t WritePages(uint32_t firstPage, uint32_t pageCount, const uint8_t* source)
{
    return g_hidPort.Get().WritePages(firstPage, pageCount, source);
}

uint32_t ReadPages(uint32_t firstPage, uint32_t pageCount, uint8_t* destination)
{
    return g_hidPort.Get().ReadPages(firstPage, pageCount, destination);
}
