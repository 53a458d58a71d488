#pragma once
// The 18-byte command record the device understands, and the 65-byte command
// report that carries it. Portable: the program builds blocks with it, the
// simulator parses them.
#include <cstddef>
#include <cstdint>

#include "device/flash_geometry.h"

constexpr uint8_t CMD_TEST = 0x5B;   // argument 1 sub-code, argument 2 value
constexpr uint8_t CMD_ERASE = 0x71;  // argument 1 block, argument 2 always 1
constexpr uint8_t CMD_WRITE = 0xC3;  // first page, page count; 4 output reports per page follow
constexpr uint8_t CMD_READ = 0xD2;   // first page, page count; 4 input reports per page follow

constexpr uint32_t TEST_BEGIN_IMAGE = 0xC5B484A1;  // value: blocks the image spans
constexpr uint32_t TEST_FINISH = 0xFCB19055;       // value: TEST_FINISH again

constexpr uint32_t COMMAND_SIGNATURE = 0x93BEE369;
constexpr uint8_t COMMAND_LENGTH = 14;  // bytes covered by the checksum
constexpr size_t COMMAND_BLOCK_SIZE = 18;
constexpr uint8_t COMMAND_REPORT_FILL = 0xCC;  // unused bytes of a command report

// Field offsets inside the block; multi-byte fields are little-endian.
constexpr size_t COMMAND_OFFSET_OPCODE = 0;
constexpr size_t COMMAND_OFFSET_LENGTH = 1;
constexpr size_t COMMAND_OFFSET_ARGUMENT1 = 2;
constexpr size_t COMMAND_OFFSET_ARGUMENT2 = 6;
constexpr size_t COMMAND_OFFSET_SIGNATURE = 10;
constexpr size_t COMMAND_OFFSET_CHECKSUM = 14;

// Kept as raw bytes and written field by field, so its layout and byte order
// do not depend on the compiler's packing or the host's endianness.
struct CommandBlock {
    uint8_t bytes[COMMAND_BLOCK_SIZE];
};
static_assert(sizeof(CommandBlock) == COMMAND_BLOCK_SIZE, "CommandBlock is 18 bytes");

inline void StoreLe32(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t LoadLe32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// Sum of the 14 bytes at offsets 0 to 13, each as 0..255; it covers the
// signature too.
uint32_t CommandChecksum(const CommandBlock& block);

// Fills every byte of the block: opcode, length 14, both arguments, the
// signature and the checksum.
void FillCommandBlock(CommandBlock& block, uint8_t opcode, uint32_t argument1, uint32_t argument2);

// A command report: byte 0 (report id) 0, bytes 1..18 the block, 19..64 0xCC.
void BuildCommandReport(const CommandBlock& block, uint8_t (&report)[REPORT_SIZE]);

struct ParsedCommand {
    uint8_t opcode;
    uint8_t length;
    uint32_t argument1;
    uint32_t argument2;
    uint32_t signature;
    uint32_t checksum;
};

enum class CommandCheck {
    OK,
    BAD_LENGTH,     // length byte is not 14
    BAD_SIGNATURE,  // signature is not COMMAND_SIGNATURE
    BAD_CHECKSUM,   // stored checksum differs from the sum of bytes 0..13
    BAD_OPCODE,     // none of the four commands
};

// Decodes the block at bytes[0..17] into `command` (always, so a caller can
// log what arrived) and says whether the device would accept it. The checks
// run in the order length, signature, checksum, opcode.
CommandCheck ParseCommandBlock(const uint8_t (&bytes)[COMMAND_BLOCK_SIZE], ParsedCommand& command);

const char* CommandCheckName(CommandCheck check);
