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
#include "frame/key_index.h"
#include "frame/memory_block.h"
#include "frame/status.h"
#include "qdparse.h"

namespace qd::tiff {

// An IFD entry: tag, type, the whole count, and the value-or-offset field both
// decoded and as its four stored bytes.
struct IfdEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t field;
  const uint8_t* fieldBytes;
};

// The first entry carrying `tag`, in file order, among those lying wholly
// inside `entries`.
bool FindTag(const ByteView& entries, uint16_t tag, ByteOrder order, IfdEntry* out);

// The IFD at `offset` of `block` opens when its count and entries lie inside
// the block; its next-IFD link is checked by whoever follows it.
bool OpenIfd(const ByteView& block, uint64_t offset, ByteOrder order, uint16_t* count);

enum class ReadMode : uint8_t {
  kCopy,    // IFDQ_READ copies values out in host order
  kLocate,  // IFDQ_READ reports where the value lies inside the block
  // IFDQ_READ points `data` at the value in host order, at most `size` bytes
  // of it (size 0: all of it): where it lies when the walk's byte order is
  // the host's and the block is in memory, else at a copy placed in the
  // scratch's room. Needs a scratch with a room.
  kView,
};

// The read runs of a list whose shape never changes, each indexed by tag once
// for every walk of it (at compile time where the list is a constant). A
// memory walk that views values in host order (ReadMode::kView) answers such
// a run by visiting its IFD's entries once instead of looking up each
// request, and notes on the way the entries of the tags it will locate or
// enter in the same IFD; other walks answer request by request. Such a walk
// expects the requests of indexed runs to start unanswered (found 0), as
// fresh copies of the list do. Runs past the first kMaxRuns or longer than a
// key index holds are answered request by request.
class RunIndex {
 public:
  static constexpr uint32_t kMaxRuns = 4;
  static constexpr uint32_t kMaxLookups = 4;

  struct Run {
    uint32_t start = 0;   // list position of its first request
    uint32_t length = 0;  // its requests
    KeyIndex tags{KeyIndex::Empty{}};        // each tag's first request
    uint8_t next[KeyIndex::kCapacity] = {};  // the next request with the same tag + 1; 0: none
    uint32_t lookups = 0;
    uint16_t lookup[kMaxLookups] = {};  // tags located or entered after the run in its IFD, none read in it
  };

  // Indexes the runs of `list` up to its first IFDQ_END.
  constexpr explicit RunIndex(const IfdQuery* list) {
    uint32_t i = 0;
    while (list[i].op != IFDQ_END) {
      uint32_t n = 0;
      while (list[i + n].op == IFDQ_READ) ++n;
      if (n == 0) {
        ++i;
        continue;
      }
      if (count_ < kMaxRuns && n <= KeyIndex::kCapacity) Index(list, i, n, &runs_[count_++]);
      i += n;
    }
  }

  // The run that starts at list position `at`, or nullptr.
  const Run* At(int64_t at) const {
    for (uint32_t r = 0; r < count_; ++r) {
      if (runs_[r].start == at) return &runs_[r];
    }
    return nullptr;
  }

 private:
  static constexpr void Index(const IfdQuery* list, uint32_t start, uint32_t n, Run* run) {
    const IfdQuery* reads = list + start;
    run->start = start;
    run->length = n;
    // The run's IFD goes on to the end of its scope or chain step, past
    // nested scopes.
    int depth = 0;
    for (const IfdQuery* q = reads + n; q->op != IFDQ_END; ++q) {
      if ((q->op == IFDQ_LEAVE && depth-- == 0) || (q->op == IFDQ_NEXT_IFD && depth == 0)) break;
      const bool lookup = depth == 0 && (q->op == IFDQ_LOCATE || q->op == IFDQ_ENTER);
      if (q->op == IFDQ_ENTER) ++depth;
      if (!lookup || run->lookups == kMaxLookups) continue;
      bool known = false;
      for (uint32_t k = 0; k < n; ++k) known = known || reads[k].tag == q->tag;
      for (uint32_t j = 0; j < run->lookups; ++j) known = known || run->lookup[j] == q->tag;
      if (!known) run->lookup[run->lookups++] = q->tag;
    }
    run->tags.Build(n, [reads](uint32_t k) { return reads[k].tag; });
    for (uint32_t k = 0; k < n; ++k) {
      for (uint32_t j = k + 1; j < n && run->next[k] == 0; ++j) {
        if (reads[j].tag == reads[k].tag) run->next[k] = static_cast<uint8_t>(j + 1);
      }
    }
  }

  Run runs_[kMaxRuns] = {};
  uint32_t count_ = 0;
};

// What a walk shares with its caller: room for the values that requests of
// size 0 (kCopy) or all requests (kView) have copied (in kCopy each gets a
// block of its own once the room is used up; the caller frees only those),
// whether a block could not be had, and the list's run index if it has one.
struct CopyScratch {
  ValueRoom* room = nullptr;
  bool outOfMemory = false;
  const RunIndex* runs = nullptr;  // built from the list the walk starts at
};

// Walks from the IFD at `ifdOffset` (ST_UNSUPPORTED when it does not open).
// Out-of-line values are taken from (offset - bias) and must end strictly
// before the end of the block.
// A copy that could not get the block it asked for (size 0) leaves its
// request unfound and is noted in the scratch when one is given.
Status WalkMemory(const ByteView& block, uint32_t ifdOffset, ByteOrder order, IfdQuery** cursor,
                  int64_t bias, ReadMode mode = ReadMode::kCopy, CopyScratch* scratch = nullptr);

// One IFDQ_READ request (copying, into its own buffer) answered from the IFD
// at `ifdOffset` as a walk would, without indexing the IFD for more.
Status ReadOne(const ByteView& block, uint32_t ifdOffset, ByteOrder order, IfdQuery* request);

// Walks from the IFD at stream position `ifdPosition`, loading IFDs and values
// through the reader; values must end within the stream. kLocate is not a
// mode of this form.
Status WalkStream(BufferedReader* reader, uint32_t ifdPosition, ByteOrder order, IfdQuery** cursor,
                  int64_t bias, ReadMode mode = ReadMode::kCopy, CopyScratch* scratch = nullptr);

// Walks from the IFD at `ifdOffset` relative to the TIFF header at stream
// position `base`, reading entries one by one. IFDQ_READ stores the value's
// position (relative to the base) in `position` and copies it raw: into
// `data` (at most `size` bytes), or into a new block stored in `data` when
// `data` is 0. An empty or unreadable IFD ends the walk with ST_BAD_ARGUMENT.
Status WalkStreamLocate(BufferedReader* reader, uint32_t base, uint32_t ifdOffset, ByteOrder order,
                        IfdQuery** cursor, int64_t bias);

// Opens a 1024-byte reader over `stream` (which the caller has opened), walks
// the list from `ifdPosition` and returns the result code.
uint32_t QueryStream(const qdlStream* stream, uint32_t ifdPosition, ByteOrder order, IfdQuery* list);

}  // namespace qd::tiff
