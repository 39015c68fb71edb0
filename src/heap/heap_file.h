// Heap files: a 26-byte header ("II"/"MM", header length H, "HEAP", subtype,
// version) followed by the root heap, which runs to the end of the file.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/stream_port.h"
#include "heap/heap_table.h"
#include "qdparse.h"

namespace qd::heap {

struct HeapFile {
  const StreamPort* port;
  uint32_t fileLength;
  uint32_t headerLength;  // H
  uint32_t version;
  ByteOrder order;
  uint16_t rootCount;
  HeapView root;  // table block (little-endian) owned by whoever opened the file
  uint32_t rootDataLength;
};

// One lookup in the root heap; a list ends with type 0.
struct RootRequest {
  uint16_t type;
  uint16_t found;   // out
  uint16_t spare;   // cleared with found
  uint32_t offset;  // out: absolute file offset of the data
  uint32_t length;  // out
  uint32_t load;    // in: nonzero = read the data into `data`
  uint8_t* data;    // out: library block owned by the caller
};

// Checks the header (against `subtype` when given: four characters) and reads
// and validates the root table. ST_UNSUPPORTED for anything that is not a heap
// file of that subtype. On success release file->root.table with BlockFree.
Status OpenHeapFile(const StreamPort& port, const char* subtype, HeapFile* file);

// Finds each requested type among the root records and loads the data where
// asked. On failure every block loaded so far is released.
Status LoadRootRecords(const HeapFile& file, RootRequest* requests);

// The image-properties record of a "CCDR" file's root heap: where it lies
// and, with `load`, its data in a block the caller releases. `file` keeps the
// header's fields; its root table is released again. ST_UNSUPPORTED when the
// file has none.
Status FindImageProperties(const StreamPort& port, bool load, HeapFile* file, RootRequest* found);

// The heap-file probe: the image-properties heap of a "CCDR" file, as a heap
// object whose block the caller releases.
Status ProbeHeapFile(const StreamPort& port, HeapObject* heap);

}  // namespace qd::heap
