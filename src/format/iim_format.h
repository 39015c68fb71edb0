// IIM datasets as files store them, the exchange record the library hands
// out, and the preserved block that packs exchange records.
#pragma once

#include <cstdint>

namespace qd::iim {

// Dataset: 0x1C, record, dataset, u16 big-endian length, data. With the top
// bit of the length set, its low 15 bits count the big-endian length bytes
// that follow, and the data follows them.
constexpr uint8_t kTagMarker = 0x1C;
constexpr uint32_t kDatasetHead = 5;
constexpr uint16_t kExtendedBit = 0x8000;

// Exchange record: record, dataset, u32 length (little-endian), data.
constexpr uint32_t kRecordHead = 6;
constexpr uint32_t kRecordLengthAt = 2;

// Preserved block: name, a zero byte, u32 version (big-endian), the order of
// the record lengths (0 little-endian, 1 big-endian), three zero bytes.
constexpr char kBlockName[] = "VEDRADC_IIM";
constexpr uint32_t kBlockNameSize = sizeof kBlockName - 1;
constexpr uint32_t kBlockVersionAt = 12;
constexpr uint32_t kBlockVersion = 1;
constexpr uint32_t kBlockOrderAt = 16;
constexpr uint32_t kBlockHeader = 20;
// A list packed into a block counts at most this many records.
constexpr uint32_t kBlockMaxRecords = 100;

}  // namespace qd::iim
