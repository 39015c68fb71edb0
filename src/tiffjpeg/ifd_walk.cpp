#include "tiffjpeg/ifd_walk.h"

#include <cstring>
#include <utility>

#include "frame/key_index.h"
#include "frame/memory_block.h"
#include "format/tiff_format.h"

namespace qd::tiff {
namespace {

// Scopes nest as deep as the caller's list does; this bounds the recursion.
constexpr int kMaxScopeDepth = 64;

inline __attribute__((always_inline)) IfdEntry DecodeEntry(const uint8_t* e, ByteOrder o) {
  return IfdEntry{Get16(e, o), Get16(e + 2, o), Get32(e + 4, o), Get32(e + 8, o), e + 8};
}

// The walkers use only the low 16 bits of an entry's count.
uint16_t Count16(const IfdEntry& e) { return static_cast<uint16_t>(e.count); }

// The run of read requests from `q` on, one lookup each; returns the request
// after the run.
template <typename Finder, typename Read>
IfdQuery* ReadRunByFind(Finder& finder, IfdQuery* q, Read&& read) {
  for (; q->op == IFDQ_READ; ++q) {
    q->found = 0;
    IfdEntry e{};
    if (finder.Find(q->tag, &e)) read(e, q);
  }
  return q;
}

// A list's run index with where the list starts.
struct ListRuns {
  const RunIndex* index = nullptr;
  const IfdQuery* list = nullptr;

  const RunIndex::Run* At(const IfdQuery* q) const { return index != nullptr ? index->At(q - list) : nullptr; }
};

// An IFD's entries and how its tags are looked up: an IFD of up to 128
// entries through an index of its tags, a larger one bisected in place when
// its tags never decrease, else scanned. A walk that views its runs entry
// by entry (`byEntry`) seldom looks a tag up and scans for it.
class TagIndex {
 public:
  TagIndex() = default;
  TagIndex(const TagIndex&) = delete;
  TagIndex& operator=(const TagIndex&) = delete;

  void Reset(const ByteView& entries, ByteOrder o, bool byEntry) {
    entries_ = entries;
    order_ = o;
    count_ = entries.size() / kEntrySize;
    indexed_ = !byEntry && count_ <= KeyIndex::kCapacity;
    ascending_ = false;
    if (byEntry) return;
    if (indexed_) {
      tags_.Build(count_, [this](uint32_t i) { return TagAt(i); });
      return;
    }
    ascending_ = true;
    for (uint32_t i = 1; i < count_ && ascending_; ++i) ascending_ = TagAt(i) >= TagAt(i - 1);
  }

  bool Find(uint16_t tag, IfdEntry* out) const {
    uint32_t at = 0;
    if (indexed_) {
      if (!tags_.Find(tag, &at)) return false;
    } else if (ascending_) {
      uint32_t lo = 0, hi = count_;
      while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (TagAt(mid) < tag) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      if (lo == count_ || TagAt(lo) != tag) return false;
      at = lo;
    } else {
      return FindTag(entries_, tag, order_, out);
    }
    *out = DecodeEntry(entries_.data() + kEntrySize * at, order_);
    return true;
  }

  // Answers the run of read requests that starts at `q`, each with the first
  // entry carrying its tag (`read` does the rest); returns the request after
  // the run.
  template <typename Read>
  IfdQuery* ReadRun(IfdQuery* q, Read&& read) const {
    if (!indexed_) return ReadRunByFind(*this, q, read);
    for (; q->op == IFDQ_READ; ++q) {
      q->found = 0;
      uint32_t at = 0;
      if (tags_.Find(q->tag, &at)) read(DecodeEntry(entries_.data() + kEntrySize * at, order_), q);
    }
    return q;
  }

  const ByteView& entries() const { return entries_; }

 private:
  uint16_t TagAt(uint32_t i) const { return Get16(entries_.data() + kEntrySize * i, order_); }

  ByteView entries_;
  ByteOrder order_ = kLittleEndian;
  uint32_t count_ = 0;
  bool indexed_ = false;
  bool ascending_ = false;
  KeyIndex tags_;
};

// What a read request of entry `e` transfers.
struct ReadPlan {
  uint32_t element;   // bytes per element
  uint32_t byteSize;  // the whole value
  uint32_t stored;    // what the destination takes
};

// The element and whole size of an entry's value (element 0: a type no read
// takes); `count` is the entry's whole count.
ReadPlan ValueOf(uint16_t type, uint32_t count) {
  return ReadPlan{ElementSize(type), (count & 0xFFFF) * ValueSize(type), 0};  // < 2^20
}

// What a request of `size` bytes takes of a value: whole elements, all of it
// for size 0.
uint32_t Stored(uint32_t size, const ReadPlan& value) {
  const uint32_t whole = size & ~(value.element - 1);
  return size != 0 && whole < value.byteSize ? whole : value.byteSize;
}

bool PlanRead(const IfdEntry& e, const IfdQuery& q, ReadPlan* plan) {
  if (e.type != q.type) return false;
  *plan = ValueOf(e.type, e.count);
  if (plan->element == 0) return false;
  plan->stored = Stored(q.size, *plan);
  return true;
}

// Rewrites `bytes` bytes of elements from file order into host order.
void ToHostOrder(uint8_t* p, uint32_t bytes, uint32_t element, ByteOrder o) {
  if (o == kHostOrder) return;
  if (element == 2) {
    for (uint32_t i = 0; i + 2 <= bytes; i += 2) {
      const uint16_t v = Get16(p + i, o);
      std::memcpy(p + i, &v, 2);
    }
  } else if (element == 4) {
    for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
      const uint32_t v = Get32(p + i, o);
      std::memcpy(p + i, &v, 4);
    }
  }
}

// The destination of a copying read: a view's place in the scratch room;
// else the caller's buffer, or, when the request asks the walker to allocate
// (size 0), the scratch room while the value fits there, else a fresh block;
// the value fills it whole. A block that cannot be had leaves the request
// unfound and is noted in the scratch.
uint8_t* Destination(const IfdQuery& q, const ReadPlan& plan, ReadMode mode, BlockOwner* allocated,
                     CopyScratch* scratch) {
  uint8_t* out = nullptr;
  if (mode == ReadMode::kView) {
    out = scratch->room->Place(plan.stored);
  } else if (q.data == 0) {
    return nullptr;
  } else if (q.size != 0) {
    return reinterpret_cast<uint8_t*>(q.data);
  } else {
    if (scratch != nullptr && scratch->room != nullptr) {
      if (uint8_t* in = scratch->room->Take(plan.byteSize)) return in;
    }
    allocated->reset(BlockAlloc(plan.byteSize));
    out = allocated->get();
  }
  if (out == nullptr && scratch != nullptr) scratch->outOfMemory = true;
  return out;
}

void CompleteLocate(IfdQuery* q, const IfdEntry& e) {
  q->type = e.type;
  q->size = Count16(e);
  q->data = e.field;
  q->found = 1;
}

// A read whose `size` bytes are at `at`, as kLocate and kView report them. A
// read's type is the entry's: it answers only then.
void CompletePoint(IfdQuery* q, const uint8_t* at, uint32_t size) {
  q->data = reinterpret_cast<uintptr_t>(at);
  q->size = size;
  q->found = 1;
}

// `out` is where the value went; a request of size 0 gets its address.
void CompleteRead(IfdQuery* q, const ReadPlan& plan, ReadMode mode, uint8_t* out,
                  BlockOwner* allocated) {
  if (mode == ReadMode::kView) return CompletePoint(q, out, plan.stored);
  if (q->size == 0) {
    (void)allocated->release();
    std::memcpy(reinterpret_cast<void*>(q->data), &out, sizeof out);
  }
  q->size = plan.stored;
  q->found = 1;
}

// The memory form: the whole TIFF block is at hand.
class MemoryIfd {
 public:
  MemoryIfd(const ByteView& block, ByteOrder o, int64_t bias, ReadMode mode, CopyScratch* scratch,
            const ListRuns& runs)
      : block_(block),
        order_(o),
        bias_(bias),
        mode_(mode),
        inPlace_(mode == ReadMode::kLocate || (mode == ReadMode::kView && o == kHostOrder)),
        scratch_(scratch),
        runs_(runs) {}

  // An IFD at `offset` that OpenIfd has found to hold `count` entries.
  void Open(uint32_t offset, uint16_t count) {
    offset_ = offset;
    count_ = count;
    ByteView entries;  // OpenIfd found them inside the block
    (void)block_.Sub(offset_ + kCountSize, uint64_t{kEntrySize} * count_, &entries);
    tags_.Reset(entries, order_, runs_.index != nullptr && ViewsInPlace());
    noted_ = nullptr;
  }

  // Values viewed where they lie, in host order: indexed runs go entry by entry.
  bool ViewsInPlace() const { return mode_ == ReadMode::kView && inPlace_; }

  MemoryIfd Child() const { return MemoryIfd(block_, order_, bias_, mode_, scratch_, runs_); }

  bool Find(uint16_t tag, IfdEntry* e) {
    for (uint32_t j = 0; noted_ != nullptr && j < noted_->lookups; ++j) {
      if (noted_->lookup[j] != tag) continue;
      if (notedAt_[j] == nullptr) return false;
      *e = DecodeEntry(notedAt_[j], order_);
      return true;
    }
    return tags_.Find(tag, e);
  }
  static Status Failure() { return ST_OK; }
  IfdQuery* ReadRun(IfdQuery* q) {
    if (ViewsInPlace()) {
      if (const RunIndex::Run* run = runs_.At(q)) return ViewRun(*run, q);
    }
    return tags_.ReadRun(q, [this](const IfdEntry& e, IfdQuery* r) { Read(e, r); });
  }

  // A run viewed where its values lie (host order), visiting the entries once:
  // each request is answered by the first entry that carries its tag, whose
  // value is found once for all requests of the tag. The entries of the run's
  // lookups are noted for Find on the way. Out of line, the loop keeps its
  // values in registers.
  __attribute__((noinline)) IfdQuery* ViewRun(const RunIndex::Run& run, IfdQuery* q) {
    bool seen[KeyIndex::kCapacity] = {};
    noted_ = &run;
    for (const uint8_t*& at : notedAt_) at = nullptr;
    const uint8_t* e = tags_.entries().data();
    for (uint32_t n = tags_.entries().size() / kEntrySize; n != 0; --n, e += kEntrySize) {
      uint32_t k = 0;
      if (!run.tags.Find(Get16(e, kHostOrder), &k)) {
        Note(run, e);
        continue;
      }
      if (seen[k]) continue;
      seen[k] = true;
      const uint16_t type = Get16(e + 2, kHostOrder);
      const ReadPlan value = ValueOf(type, Get32(e + 4, kHostOrder));
      const uint8_t* source = Source(e + 8, value.byteSize, kHostOrder);
      if (value.element == 0 || source == nullptr) continue;
      for (;; k = run.next[k] - 1u) {
        if (q[k].type == type) CompletePoint(q + k, source, Stored(q[k].size, value));
        if (run.next[k] == 0) break;
      }
    }
    return q + run.length;
  }

  void Read(const IfdEntry& e, IfdQuery* q) const {
    ReadPlan plan{};
    if (!PlanRead(e, *q, &plan)) return;
    const uint8_t* source = Source(e.fieldBytes, plan.byteSize, order_);
    if (source == nullptr) return;
    // The value stays where it lies: in the block's byte order, or for a view
    // in the host's.
    if (inPlace_) return CompletePoint(q, source, mode_ == ReadMode::kLocate ? plan.byteSize : plan.stored);
    BlockOwner allocated;
    uint8_t* out = Destination(*q, plan, mode_, &allocated, scratch_);
    if (out == nullptr) return;
    CopyBytes(out, source, plan.stored);
    ToHostOrder(out, plan.stored, plan.element, order_);
    CompleteRead(q, plan, mode_, out, &allocated);
  }

  // The first entry of each of the run's lookups, noted for Find.
  void Note(const RunIndex::Run& run, const uint8_t* e) {
    const uint16_t tag = Get16(e, kHostOrder);
    for (uint32_t j = 0; j < run.lookups; ++j) {
      if (run.lookup[j] == tag && notedAt_[j] == nullptr) notedAt_[j] = e;
    }
  }

  // Where a value of `bytes` bytes lies: in the entry's field, or at the
  // offset the field holds, strictly inside the block (a value that ends
  // exactly at its end is not read); nullptr when it does not.
  const uint8_t* Source(const uint8_t* field, uint32_t bytes, ByteOrder o) const {
    if (bytes <= kInlineSize) return field;
    const int64_t at = int64_t{Get32(field, o)} - bias_;
    if (at < 0 || !block_.Contains(static_cast<uint64_t>(at), uint64_t{bytes} + 1)) return nullptr;
    return block_.data() + at;
  }

  // Only fields and counts that stay inside the block are reported.
  void Locate(const IfdEntry& e, IfdQuery* q) const {
    if (block_.Contains(e.field, Count16(e))) CompleteLocate(q, e);
  }

  // ST_OK: moved to the next IFD; ST_NOT_FOUND: the chain ends here.
  Status Next() {
    const uint64_t linkAt = uint64_t{offset_} + kCountSize + uint64_t{kEntrySize} * count_;
    uint32_t link = 0;
    if (!block_.U32(linkAt, order_, &link) || link == 0) return ST_NOT_FOUND;
    uint16_t count = 0;
    if (!OpenIfd(block_, link, order_, &count)) return ST_NOT_FOUND;
    Open(link, count);
    return ST_OK;
  }

  Status Enter(const IfdEntry& e, MemoryIfd* child) const {
    uint16_t count = 0;
    if (!OpenIfd(block_, e.field, order_, &count)) return ST_NOT_FOUND;
    child->Open(e.field, count);
    return ST_OK;
  }

 private:
  ByteView block_;
  ByteOrder order_ = kLittleEndian;
  int64_t bias_ = 0;
  ReadMode mode_ = ReadMode::kCopy;
  bool inPlace_ = false;  // values are reported where they lie
  CopyScratch* scratch_ = nullptr;
  ListRuns runs_;
  uint32_t offset_ = 0;
  uint16_t count_ = 0;
  TagIndex tags_;
  const RunIndex::Run* noted_ = nullptr;  // the run whose view noted notedAt_
  const uint8_t* notedAt_[RunIndex::kMaxLookups] = {};
};

// The stream form: each IFD's entries and link are loaded into a block of
// their own; values are read on demand.
class StreamIfd {
 public:
  StreamIfd(BufferedReader* reader, ByteOrder o, int64_t bias, ReadMode mode, CopyScratch* scratch)
      : reader_(reader), order_(o), bias_(bias), mode_(mode), scratch_(scratch) {}

  StreamIfd Child() const { return StreamIfd(reader_, order_, bias_, mode_, scratch_); }

  Status Load(uint32_t position) {
    count_ = 0;
    entries_.reset();
    uint8_t word[2];
    Status st = ReaderSeek(reader_, position, kReaderAbsolute);
    if (st == ST_OK) st = ReaderRead(reader_, kCountSize, word);
    if (st == ST_PAST_END) return ST_OK;  // an IFD beyond the end holds nothing
    if (st != ST_OK) return st;           // a failing host is no missing IFD
    const uint16_t count = Get16(word, order_);
    const uint32_t entryBytes = kEntrySize * count;  // < 2^20
    const uint32_t wanted = entryBytes + kLinkSize;
    const uint64_t at = uint64_t{position} + kCountSize;
    if (!FitsIn(at, entryBytes, ReaderSize(*reader_))) return ST_OK;  // entries beyond the end
    BlockOwner entries(BlockAllocZeroed(wanted));
    if (!entries) return ST_NO_MEMORY;
    // A link not wholly inside the stream stays 0: part of one is no link.
    const uint32_t have = FitsIn(at, wanted, ReaderSize(*reader_)) ? wanted : entryBytes;
    st = ReaderRead(reader_, have, entries.get());
    if (st != ST_OK) return st;
    entries_ = std::move(entries);
    count_ = count;
    tags_.Reset(ByteView(entries_.get(), kEntrySize * count_), order_, false);
    return ST_OK;
  }

  bool Find(uint16_t tag, IfdEntry* e) { return entries_ && tags_.Find(tag, e); }
  IfdQuery* ReadRun(IfdQuery* q) {
    const auto read = [this](const IfdEntry& e, IfdQuery* r) { Read(e, r); };
    return entries_ ? tags_.ReadRun(q, read) : ReadRunByFind(*this, q, read);
  }

  Status Failure() const { return failure_; }

  void Read(const IfdEntry& e, IfdQuery* q) {
    ReadPlan plan{};
    if (!PlanRead(e, *q, &plan)) return;
    int64_t at = 0;
    if (plan.byteSize > kInlineSize) {
      at = int64_t{e.field} - bias_;
      if (at < 0 || !FitsIn(static_cast<uint64_t>(at), plan.byteSize, ReaderSize(*reader_))) return;
    }
    BlockOwner allocated;
    uint8_t* out = Destination(*q, plan, mode_, &allocated, scratch_);
    if (out == nullptr) return;
    if (plan.byteSize <= kInlineSize) {
      std::memcpy(out, e.fieldBytes, plan.stored);
    } else {
      // The stream holds the value: not getting it is the host failing.
      Status st = ReaderSeek(reader_, static_cast<int64_t>(at), kReaderAbsolute);
      if (st == ST_OK) st = ReaderRead(reader_, plan.stored, out);
      if (st != ST_OK) {
        failure_ = st;
        return;
      }
    }
    ToHostOrder(out, plan.stored, plan.element, order_);
    CompleteRead(q, plan, mode_, out, &allocated);
  }

  void Locate(const IfdEntry& e, IfdQuery* q) const { CompleteLocate(q, e); }

  // An IFD without entries still has a link; one that could not be loaded has none.
  Status Next() {
    if (!entries_) return ST_NOT_FOUND;
    const uint32_t link = Get32(entries_.get() + kEntrySize * count_, order_);
    if (link == 0) return ST_NOT_FOUND;
    return Load(link);
  }

  Status Enter(const IfdEntry& e, StreamIfd* child) const {
    if (e.field == 0) return ST_NOT_FOUND;
    return child->Load(e.field);
  }

 private:
  BufferedReader* reader_ = nullptr;
  ByteOrder order_ = kLittleEndian;
  int64_t bias_ = 0;
  ReadMode mode_ = ReadMode::kCopy;
  CopyScratch* scratch_ = nullptr;
  Status failure_ = ST_OK;
  uint16_t count_ = 0;
  BlockOwner entries_;
  TagIndex tags_;
};

// The stream locate form: entries are read one by one through the reader;
// values are reported by their position relative to the TIFF header (base)
// and copied raw.
class StreamLocateIfd {
 public:
  StreamLocateIfd(BufferedReader* reader, uint32_t base, ByteOrder o, int64_t bias)
      : reader_(reader), base_(base), order_(o), bias_(bias) {}

  StreamLocateIfd Child() const { return StreamLocateIfd(reader_, base_, order_, bias_); }

  // An IFD that holds nothing, or cannot be read, makes the list unusable.
  Status Load(uint32_t offset) {
    offset_ = offset;
    count_ = 0;
    uint8_t word[2];
    if (!ReadAt(uint64_t{base_} + offset, word, 2)) return ST_BAD_ARGUMENT;
    count_ = Get16(word, order_);
    return count_ == 0 ? ST_BAD_ARGUMENT : ST_OK;
  }

  bool Find(uint16_t tag, IfdEntry* e) {
    for (uint32_t i = 0; i < count_; ++i) {
      const uint64_t at = uint64_t{base_} + offset_ + kCountSize + uint64_t{kEntrySize} * i;
      if (!ReadAt(at, entry_, kEntrySize)) return false;
      if (Get16(entry_, order_) == tag) {
        entryAt_ = at;
        *e = DecodeEntry(entry_, order_);
        return true;
      }
    }
    return false;
  }

  static Status Failure() { return ST_OK; }
  IfdQuery* ReadRun(IfdQuery* q) {
    return ReadRunByFind(*this, q, [this](const IfdEntry& e, IfdQuery* r) { Read(e, r); });
  }

  void Read(const IfdEntry& e, IfdQuery* q) const {
    ReadPlan plan{};
    if (!PlanRead(e, *q, &plan)) return;
    const int64_t size = ReaderSize(*reader_);
    int64_t at = 0;  // relative to the base
    if (plan.byteSize <= kInlineSize) {
      at = static_cast<int64_t>(entryAt_) - base_ + 8;
    } else {
      at = int64_t{e.field} - bias_;
      if (at < 0 || at >= size || plan.byteSize >= size) return;
      // Values of wider elements must end before the end of the stream.
      const uint64_t length = uint64_t{plan.byteSize} + (plan.element == 1 ? 0 : 1);
      if (!FitsIn(uint64_t{base_} + static_cast<uint64_t>(at), length, size)) return;
    }
    BlockOwner allocated;
    uint8_t* out = reinterpret_cast<uint8_t*>(q->data);
    uint32_t bytes = plan.byteSize;
    if (out == nullptr) {
      allocated.reset(BlockAlloc(bytes));
      out = allocated.get();
      if (out == nullptr) return;
    } else if (q->size < bytes) {
      bytes = q->size;
    }
    if (!ReadAt(uint64_t{base_} + static_cast<uint64_t>(at), out, bytes)) return;
    if (allocated) q->data = reinterpret_cast<uintptr_t>(allocated.release());
    q->size = bytes;
    q->position = static_cast<uint32_t>(at);
    q->found = 1;
  }

  void Locate(const IfdEntry& e, IfdQuery* q) const {
    if (!FitsIn(e.field, Count16(e), ReaderSize(*reader_))) return;
    CompleteLocate(q, e);
    q->position = e.field - base_;
  }

  Status Next() {
    uint8_t word[4];
    const uint64_t at = uint64_t{base_} + offset_ + kCountSize + uint64_t{kEntrySize} * count_;
    if (!ReadAt(at, word, 4)) return ST_NOT_FOUND;
    const uint32_t link = Get32(word, order_);
    if (link == 0) return ST_NOT_FOUND;
    return Load(link);
  }

  Status Enter(const IfdEntry& e, StreamLocateIfd* child) const {
    if (e.field == 0) return ST_NOT_FOUND;
    return child->Load(e.field);
  }

 private:
  bool ReadAt(uint64_t at, void* into, uint32_t n) const {
    return at <= UINT32_MAX && ReaderSeek(reader_, static_cast<int64_t>(at), kReaderAbsolute) == ST_OK &&
           ReaderRead(reader_, n, into) == ST_OK;
  }

  BufferedReader* reader_ = nullptr;
  uint32_t base_ = 0;
  ByteOrder order_ = kLittleEndian;
  int64_t bias_ = 0;
  uint32_t offset_ = 0;
  uint16_t count_ = 0;
  uint64_t entryAt_ = 0;
  uint8_t entry_[kEntrySize] = {};
};

// Moves the cursor from an IFDQ_ENTER whose IFD is unusable to the
// IFDQ_LEAVE that closes its scope.
Status SkipScope(IfdQuery** cursor) {
  int depth = 1;
  for (IfdQuery* q = *cursor + 1;; ++q) {
    switch (q->op) {
      case IFDQ_END:
      case IFDQ_NEXT_IFD: return ST_BAD_ARGUMENT;
      case IFDQ_ENTER: ++depth; break;
      case IFDQ_LEAVE:
        if (--depth == 0) {
          *cursor = q;
          return ST_OK;
        }
        break;
      default: break;
    }
  }
}

// ST_NOT_FOUND from a walk means the chain ended on IFDQ_NEXT_IFD: the whole
// walk stops, successfully.
template <typename Ifd>
Status Walk(Ifd& ifd, IfdQuery** cursor, int depth) {
  if (depth > kMaxScopeDepth) return ST_BAD_ARGUMENT;
  IfdQuery* q = *cursor;
  q->found = 0;
  for (;;) {
    IfdEntry e{};
    // Nearly every request is a read: tested before the jump that the rest take.
    if (q->op == IFDQ_READ) {
      *cursor = q = ifd.ReadRun(q);
      if (ifd.Failure() != ST_OK) return ifd.Failure();
      q->found = 0;
      continue;
    }
    switch (q->op) {
      case IFDQ_END: return ST_OK;
      case IFDQ_LOCATE:
        if (ifd.Find(q->tag, &e)) ifd.Locate(e, q);
        break;
      case IFDQ_NEXT_IFD: {
        const Status st = ifd.Next();
        if (st != ST_OK) return st;
        q->found = 1;
        break;
      }
      case IFDQ_ENTER: {
        Ifd child = ifd.Child();
        const Status entered = ifd.Find(q->tag, &e) ? ifd.Enter(e, &child) : ST_NOT_FOUND;
        if (entered == ST_OK) {
          q->type = e.type;
          q->found = 1;
          *cursor = q + 1;
          const Status st = Walk(child, cursor, depth + 1);
          if (st != ST_OK) return st;
          if ((*cursor)->op == IFDQ_END) return ST_OK;  // the list closed no scope
        } else if (entered == ST_NOT_FOUND) {
          const Status st = SkipScope(cursor);
          if (st != ST_OK) return st;
        } else {
          return entered;
        }
        q = *cursor;  // at the IFDQ_LEAVE of this scope
        break;
      }
      case IFDQ_LEAVE: q->found = 1; return ST_OK;
      default: return ST_BAD_ARGUMENT;
    }
    *cursor = ++q;
    q->found = 0;
  }
}

ListRuns RunsOf(const CopyScratch* scratch, const IfdQuery* list) {
  return scratch != nullptr ? ListRuns{scratch->runs, list} : ListRuns{};
}

template <typename Ifd>
Status WalkFromTop(Ifd& ifd, IfdQuery** cursor) {
  const Status st = Walk(ifd, cursor, 0);
  return st == ST_NOT_FOUND ? ST_OK : st;
}

}  // namespace

bool FindTag(const ByteView& entries, uint16_t tag, ByteOrder order, IfdEntry* out) {
  const uint8_t* at = entries.data();
  for (uint32_t n = entries.size() / kEntrySize; n != 0; --n, at += kEntrySize) {
    if (Get16(at, order) != tag) continue;
    *out = DecodeEntry(at, order);
    return true;
  }
  return false;
}

bool OpenIfd(const ByteView& block, uint64_t offset, ByteOrder order, uint16_t* count) {
  uint16_t n = 0;
  if (!block.U16(offset, order, &n)) return false;
  if (!block.Contains(offset + kCountSize, uint64_t{kEntrySize} * n)) return false;
  *count = n;
  return true;
}

Status WalkMemory(const ByteView& block, uint32_t ifdOffset, ByteOrder order, IfdQuery** cursor,
                  int64_t bias, ReadMode mode, CopyScratch* scratch) {
  uint16_t count = 0;
  if (!OpenIfd(block, ifdOffset, order, &count)) return ST_UNSUPPORTED;
  MemoryIfd ifd(block, order, bias, mode, scratch, RunsOf(scratch, *cursor));
  ifd.Open(ifdOffset, count);
  return WalkFromTop(ifd, cursor);
}

Status ReadOne(const ByteView& block, uint32_t ifdOffset, ByteOrder order, IfdQuery* q) {
  uint16_t count = 0;
  if (!OpenIfd(block, ifdOffset, order, &count)) return ST_UNSUPPORTED;
  q->found = 0;
  if (q->op != IFDQ_READ) return ST_BAD_ARGUMENT;
  const MemoryIfd ifd(block, order, 0, ReadMode::kCopy, nullptr, {});  // read from, never opened
  IfdEntry e{};
  ByteView entries;  // OpenIfd found them inside the block
  (void)block.Sub(uint64_t{ifdOffset} + kCountSize, uint64_t{kEntrySize} * count, &entries);
  if (FindTag(entries, q->tag, order, &e)) ifd.Read(e, q);
  return ST_OK;
}

Status WalkStream(BufferedReader* reader, uint32_t ifdPosition, ByteOrder order, IfdQuery** cursor,
                  int64_t bias, ReadMode mode, CopyScratch* scratch) {
  StreamIfd ifd(reader, order, bias, mode, scratch);
  const Status st = ifd.Load(ifdPosition);
  if (st != ST_OK) return st;
  return WalkFromTop(ifd, cursor);
}

Status WalkStreamLocate(BufferedReader* reader, uint32_t base, uint32_t ifdOffset, ByteOrder order,
                        IfdQuery** cursor, int64_t bias) {
  StreamLocateIfd ifd(reader, base, order, bias);
  const Status st = ifd.Load(ifdOffset);
  if (st != ST_OK) return st;
  return WalkFromTop(ifd, cursor);
}

uint32_t QueryStream(const qdlStream* stream, uint32_t ifdPosition, ByteOrder order, IfdQuery* list) {
  StreamPort port;
  MakeStreamPort(stream, &port);
  ScopedReader reader;
  Status st = reader.Open(port, kProbeReaderCapacity);
  if (st != ST_OK) return ToResultCode(st);
  IfdQuery* cursor = list;
  st = WalkStream(&reader, ifdPosition, order, &cursor, 0);
  return ToResultCode(st);
}

}  // namespace qd::tiff
