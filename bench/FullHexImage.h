#pragma once

#include <cstdint>
#include <cstdio>

// Writes Intel HEX text that sets every byte below `limit`, 16 bytes a record, with an extended
// linear address record every 64 KiB when `linearRecords` is set, each line ended by `lineEnd`,
// and an end-of-file record. No page is left erased: each byte mixes the bytes of its address.
void writeFullHexImage(std::FILE *file, std::uint32_t limit, bool linearRecords,
                       const char *lineEnd);
