#pragma once
// One row of a result table: a code with the name and meaning the publisher
// tool prints. The package check and the catalogue walk each keep one table.
#include <cstddef>
#include <cstdint>

struct ResultText {
    int32_t code;
    const char* name;
    const char* meaning;
};

// The row of `code`, or null when the table has none.
template <size_t N>
const ResultText* FindResultText(const ResultText (&table)[N], int32_t code)
{
    for (const ResultText& row : table)
        if (row.code == code) return &row;
    return nullptr;
}
