// Heap objects: the descriptor callers hold for a heap in a library block.
#pragma once

#include "frame/status.h"
#include "heap/record_walk.h"
#include "qdparse.h"

namespace qd::heap {

// Describes the heap-file image in `block` (a library block): checks its
// header ("II"/"MM", "HEAP", the subtype when one is required, a header
// length from 26 up to the block's length) and fills `out`, whose `block` is
// then `block`. ST_UNSUPPORTED for anything else; `out` is untouched then.
Status AttachHeapImage(uint8_t* block, const char* subtype, HeapObject* out);

// Reads or locates records of a heap object with a request list (copies of
// unknown size into `room` while they fit, as WalkRecords).
Status ReadHeapObject(const HeapObject& heap, RecordEntry** cursor, Delivery delivery,
                      ValueRoom* room = nullptr);

// Frees the heap object's block and clears the descriptor.
void ReleaseHeapObject(HeapObject* heap);

}  // namespace qd::heap
