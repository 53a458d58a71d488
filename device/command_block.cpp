#include "device/command_block.h"

#include <cstring>

uint32_t CommandChecksum(const CommandBlock& block)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < COMMAND_LENGTH; ++i) sum += block.bytes[i];
    return sum;
}

void FillCommandBlock(CommandBlock& block, uint8_t opcode, uint32_t argument1, uint32_t argument2)
{
    block.bytes[COMMAND_OFFSET_OPCODE] = opcode;
    block.bytes[COMMAND_OFFSET_LENGTH] = COMMAND_LENGTH;
    StoreLe32(block.bytes + COMMAND_OFFSET_ARGUMENT1, argument1);
    StoreLe32(block.bytes + COMMAND_OFFSET_ARGUMENT2, argument2);
    StoreLe32(block.bytes + COMMAND_OFFSET_SIGNATURE, COMMAND_SIGNATURE);
    StoreLe32(block.bytes + COMMAND_OFFSET_CHECKSUM, CommandChecksum(block));
}

void BuildCommandReport(const CommandBlock& block, uint8_t (&report)[REPORT_SIZE])
{
    std::memset(report, COMMAND_REPORT_FILL, sizeof report);
    std::memcpy(report + 1, block.bytes, COMMAND_BLOCK_SIZE);
    report[0] = 0;
}

CommandCheck ParseCommandBlock(const uint8_t (&bytes)[COMMAND_BLOCK_SIZE], ParsedCommand& command)
{
    command.opcode = bytes[COMMAND_OFFSET_OPCODE];
    command.length = bytes[COMMAND_OFFSET_LENGTH];
    command.argument1 = LoadLe32(bytes + COMMAND_OFFSET_ARGUMENT1);
    command.argument2 = LoadLe32(bytes + COMMAND_OFFSET_ARGUMENT2);
    command.signature = LoadLe32(bytes + COMMAND_OFFSET_SIGNATURE);
    command.checksum = LoadLe32(bytes + COMMAND_OFFSET_CHECKSUM);

    if (command.length != COMMAND_LENGTH) return CommandCheck::BAD_LENGTH;
    if (command.signature != COMMAND_SIGNATURE) return CommandCheck::BAD_SIGNATURE;
    uint32_t sum = 0;
    for (size_t i = 0; i < COMMAND_LENGTH; ++i) sum += bytes[i];
    if (command.checksum != sum) return CommandCheck::BAD_CHECKSUM;
    switch (command.opcode) {
    case CMD_TEST:
    case CMD_ERASE:
    case CMD_WRITE:
    case CMD_READ:
        return CommandCheck::OK;
    default:
        return CommandCheck::BAD_OPCODE;
    }
}

const char* CommandCheckName(CommandCheck check)
{
    switch (check) {
    case CommandCheck::OK:
        return "ok";
    case CommandCheck::BAD_LENGTH:
        return "length";
    case CommandCheck::BAD_SIGNATURE:
        return "signature";
    case CommandCheck::BAD_CHECKSUM:
        return "checksum";
    case CommandCheck::BAD_OPCODE:
        return "opcode";
    }
    return "?";
}
