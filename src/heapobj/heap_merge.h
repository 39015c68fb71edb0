// Merging a record entry list into a heap object: heaps are never edited in
// place; a change is a list whose present entries replace or add records, and
// the merge writes a new heap-file image with them.
#pragma once

#include "frame/status.h"
#include "qdparse.h"

namespace qd::heapobj {

// A new heap object in `out` (a "JPGM" heap-file image in a library block):
// the records of `source` (null: an empty little-endian heap) with the present
// entries of `entries` replacing or adding records. Present entries come first,
// in list order, then the source's other records in table order; a nested heap
// named by the list is merged with the source's heap of that type. `source` is
// not changed; `out` is written only on success.
Status MergeIntoHeapObject(const HeapObject* source, const RecordEntry* entries, HeapObject* out);

}  // namespace qd::heapobj
