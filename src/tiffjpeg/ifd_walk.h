// IFD query lists executed against an IFD chain. The walkers fill the answers
// into the caller's list; the cursor is shared with nested walks, so one list
// describes a whole tree of IFDs. Malformed offsets, counts or values never
// fail a walk: the affected request stays unfound. Only a malformed list
// (ST_BAD_ARGUMENT) or, in the stream form, a failed IFD allocation
// (ST_NO_MEMORY) does.
#pragma once

#include <cstdint>

#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/status.h"
#include "qdparse.h"

namespace qd::tiff {

// The IFD at `offset` of `block` opens when its count and entries lie inside
// the block; its next-IFD link is checked by whoever follows it.
bool OpenIfd(const ByteView& block, uint64_t offset, ByteOrder order, uint16_t* count);

// Walks from the IFD at `ifdOffset`, which the caller has opened. Out-of-line
// values are read from (offset - bias) and must end strictly before the end
// of the block.
Status WalkMemory(const ByteView& block, uint32_t ifdOffset, ByteOrder order, IfdQuery** cursor,
                  uint32_t bias);

// Walks from the IFD at stream position `ifdPosition`, loading IFDs and values
// through the reader; values must end within the stream.
Status WalkStream(BufferedReader* reader, uint32_t ifdPosition, ByteOrder order, IfdQuery** cursor,
                  uint32_t bias);

// Opens a 1024-byte reader over `stream` (which the caller has opened), walks
// the list from `ifdPosition` and returns the result code.
uint32_t QueryStream(const qdlStream* stream, uint32_t ifdPosition, ByteOrder order, IfdQuery* list);

}  // namespace qd::tiff
