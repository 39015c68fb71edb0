#include "tiffjpeg/exif_builder.h"

#include <cstring>

#include "frame/memory_block.h"
#include "format/tiff_format.h"

namespace qd::tiff {
namespace {

constexpr uint32_t kPrefixSize = 6;  // "Exif\0\0" or "LoLe\0\0"
constexpr uint32_t kIfdFixed = kCountSize + kLinkSize;
constexpr uint32_t kTrailerOffsetAt = 4;  // where a trailing block gets its IFD's offset
constexpr int kMaxDepth = 64;

// How a value of `size` bytes of `type` is written.
struct ValueShape {
  uint32_t bytes;
  uint32_t count;
  uint32_t element;
  bool outOfLine;
};

bool ShapeOf(uint16_t type, uint32_t size, ValueShape* shape) {
  switch (type) {
    case kByte: case kAscii: case kUndefined:
      *shape = {size, size, 1, size > kInlineSize};
      return true;
    case kShort:
      *shape = {size & ~1u, size / 2, 2, (size & ~1u) > kInlineSize};
      return true;
    case kLong: case kSLong:
      *shape = {size & ~3u, size / 4, 4, (size & ~3u) > kInlineSize};
      return true;
    case kRational: case kSRational:
      *shape = {size & ~7u, (size & ~7u) / 8, 4, (size & ~7u) != 0};
      return true;
    default:
      return false;
  }
}

bool MakesEntry(const IfdQuery& q) {
  return (q.op == IFDQ_READ && q.tag != 0) || q.op == IFDQ_LOCATE || q.op == IFDQ_ENTER;
}

bool EndsIfd(uint16_t op) { return op == IFDQ_END || op == IFDQ_NEXT_IFD || op == IFDQ_LEAVE; }

// The entries of the IFD that starts at `q`, skipping its sub-IFDs' requests.
Status CountEntries(const IfdQuery* q, uint16_t* count) {
  uint32_t n = 0;
  int depth = 0;
  for (;; ++q) {
    if (q->op == IFDQ_PLACEHOLDER) continue;
    if (q->op > IFDQ_LEAVE) return ST_BAD_ARGUMENT;
    if (depth == 0) {
      if (EndsIfd(q->op)) break;
      if (MakesEntry(*q)) ++n;
      if (q->op == IFDQ_ENTER) ++depth;
    } else if (q->op == IFDQ_ENTER) {
      ++depth;
    } else if (q->op == IFDQ_LEAVE) {
      --depth;
    } else if (q->op == IFDQ_END) {
      return ST_BAD_ARGUMENT;  // a sub-IFD without its end
    }
  }
  if (n > 0xFFFF) return ST_BAD_ARGUMENT;
  *count = static_cast<uint16_t>(n);
  return ST_OK;
}

// One pass over the tree: with a null `tiff` it only measures, otherwise it
// writes. Both passes run this same code, so they agree by construction.
class Layout {
 public:
  Layout(uint8_t* tiff, uint64_t size, ByteOrder order) : tiff_(tiff), size_(size), order_(order) {}

  // Lays out the IFD at `at` from the request at *cursor; on return *cursor
  // is at the request that ended it and *end is where its bytes end.
  Status Ifd(IfdQuery** cursor, uint64_t at, uint64_t* end, int depth) {
    if (depth > kMaxDepth) return ST_BAD_ARGUMENT;
    uint16_t count = 0;
    Status st = CountEntries(*cursor, &count);
    if (st != ST_OK) return st;
    uint64_t entry = at + kCountSize;
    uint64_t data = at + kIfdFixed + uint64_t{kEntrySize} * count;
    if (Writing()) Put16(count, Bytes(at), order_);

    for (IfdQuery* q = *cursor;; ++q) {
      switch (q->op) {
        case IFDQ_PLACEHOLDER: break;
        case IFDQ_READ:
          if (q->tag == 0) break;
          st = Value(*q, entry, &data);
          entry += kEntrySize;
          break;
        case IFDQ_LOCATE:
          st = Reserve(q, entry, &data);
          entry += kEntrySize;
          break;
        case IFDQ_ENTER:
          st = SubIfd(&q, entry, &data, depth);
          entry += kEntrySize;
          break;
        default:  // the request that ends this IFD
          st = End(*q, at, count, &data);
          if (st != ST_OK) return st;
          *cursor = q;
          *end = data;
          return ST_OK;
      }
      if (st != ST_OK) return st;
    }
  }

 private:
  bool Writing() const { return tiff_ != nullptr; }
  uint8_t* Bytes(uint64_t at) const { return tiff_ + at; }

  Status Fits(uint64_t at, uint64_t n) const {
    if (at > size_ || n > size_ - at) return ST_WRONG_STATE;  // the passes disagree
    return ST_OK;
  }

  void WriteEntry(uint64_t at, uint16_t tag, uint16_t type, uint32_t count) const {
    Put16(tag, Bytes(at), order_);
    Put16(type, Bytes(at + 2), order_);
    Put32(count, Bytes(at + 4), order_);
  }

  // Host-order values into file order, element by element.
  void WriteValues(uint8_t* to, const uint8_t* from, const ValueShape& s) const {
    for (uint32_t i = 0; i < s.bytes; i += s.element) {
      if (s.element == 2) {
        uint16_t v;
        std::memcpy(&v, from + i, 2);
        Put16(v, to + i, order_);
      } else if (s.element == 4) {
        uint32_t v;
        std::memcpy(&v, from + i, 4);
        Put32(v, to + i, order_);
      } else {
        to[i] = from[i];
      }
    }
  }

  Status Value(const IfdQuery& q, uint64_t entry, uint64_t* data) {
    ValueShape s{};
    if (!ShapeOf(q.type, q.size, &s)) return ST_BAD_ARGUMENT;
    const auto* values = reinterpret_cast<const uint8_t*>(q.data);
    if (values == nullptr && s.bytes != 0) return ST_BAD_ARGUMENT;
    const uint64_t valueAt = s.outOfLine ? *data : entry + 8;
    if (s.outOfLine) *data += s.bytes;
    if (!Writing()) return ST_OK;
    Status st = Fits(entry, kEntrySize);
    if (st == ST_OK) st = Fits(valueAt, s.bytes);
    if (st != ST_OK) return st;
    WriteEntry(entry, q.tag, q.type, s.count);
    if (s.outOfLine) Put32(static_cast<uint32_t>(valueAt), Bytes(entry + 8), order_);
    if (s.bytes != 0) WriteValues(Bytes(valueAt), values, s);
    return ST_OK;
  }

  Status Reserve(IfdQuery* q, uint64_t entry, uint64_t* data) {
    const uint64_t reserved = q->data;  // a byte count on input
    const uint64_t at = *data;
    *data += reserved;
    if (*data > UINT32_MAX) return ST_BAD_ARGUMENT;
    if (!Writing()) return ST_OK;
    Status st = Fits(entry, kEntrySize);
    if (st == ST_OK) st = Fits(at, reserved);
    if (st != ST_OK) return st;
    WriteEntry(entry, q->tag, q->type, q->size);
    Put32(static_cast<uint32_t>(at), Bytes(entry + 8), order_);
    q->data = static_cast<uintptr_t>(at);
    return ST_OK;
  }

  Status SubIfd(IfdQuery** q, uint64_t entry, uint64_t* data, int depth) {
    IfdQuery* enter = *q;
    IfdQuery* cursor = enter + 1;
    const uint64_t at = *data;
    uint64_t end = 0;
    const Status st = Ifd(&cursor, at, &end, depth + 1);
    if (st != ST_OK) return st;
    if (cursor->op != IFDQ_LEAVE) return ST_BAD_ARGUMENT;
    *q = cursor;
    *data = end;
    if (end > UINT32_MAX) return ST_BAD_ARGUMENT;
    if (!Writing()) return ST_OK;
    if (Fits(entry, kEntrySize) != ST_OK) return ST_WRONG_STATE;
    const auto subSize = static_cast<uint32_t>(end - at);
    if (enter->size == 0) enter->size = subSize;
    WriteEntry(entry, enter->tag, enter->type, enter->size);
    Put32(static_cast<uint32_t>(at), Bytes(entry + 8), order_);
    return ST_OK;
  }

  Status End(const IfdQuery& q, uint64_t at, uint16_t count, uint64_t* data) {
    const auto* trailer = reinterpret_cast<const uint8_t*>(q.data);
    if (trailer != nullptr && q.size != 0) {
      // The chained IFD must start where this one ends; a trailer there cannot.
      if (q.op == IFDQ_NEXT_IFD) return ST_WRONG_STATE;
      const uint64_t trailerAt = *data;
      *data += q.size;
      if (Writing()) {
        const Status st = Fits(trailerAt, q.size);
        if (st != ST_OK) return st;
        std::memcpy(Bytes(trailerAt), trailer, q.size);
        if (q.size >= kTrailerOffsetAt + 4) {
          Put32(static_cast<uint32_t>(at), Bytes(trailerAt + kTrailerOffsetAt), order_);
        }
      }
    }
    if (q.op != IFDQ_NEXT_IFD) return ST_OK;
    *data += *data & 1;  // the chained IFD starts on an even offset
    if (*data > UINT32_MAX) return ST_BAD_ARGUMENT;
    if (Writing()) Put32(static_cast<uint32_t>(*data), Bytes(at + kCountSize + uint64_t{kEntrySize} * count), order_);
    return ST_OK;
  }

  uint8_t* tiff_;
  uint64_t size_;
  ByteOrder order_;
};

// The IFD chain from offset 8; *end is where the last IFD's bytes end.
Status LayChain(Layout& layout, IfdQuery* list, uint64_t* end) {
  uint64_t at = kHeaderSize;
  for (IfdQuery* cursor = list;;) {
    Status st = layout.Ifd(&cursor, at, end, 0);
    if (st != ST_OK) return st;
    if (cursor->op == IFDQ_END) return ST_OK;
    if (cursor->op != IFDQ_NEXT_IFD) return ST_BAD_ARGUMENT;  // a stray IFDQ_LEAVE
    at = *end;
    ++cursor;
  }
}

}  // namespace

Status BuildExifBlock(IfdQuery* list, TiffBlockInfo* out, uint32_t signature, ByteOrder order) {
  if (out == nullptr) return ST_BAD_ARGUMENT;
  std::memset(out, 0, sizeof *out);
  if (list == nullptr) return ST_BAD_ARGUMENT;

  Layout measure(nullptr, 0, order);
  uint64_t end = 0;
  Status st = LayChain(measure, list, &end);
  if (st != ST_OK) return st;
  if (end + kPrefixSize > UINT32_MAX) return ST_BAD_ARGUMENT;
  const auto tiffSize = static_cast<uint32_t>(end);

  BlockOwner block(BlockAllocZeroed(kPrefixSize + tiffSize));
  if (!block) return ST_NO_MEMORY;
  uint8_t* p = block.get();
  std::memcpy(p, signature == kSignatureLoLe ? "LoLe" : "Exif", 4);
  uint8_t* tiff = p + kPrefixSize;
  PutLE16(order == kBigEndian ? kMarkMM : kMarkII, tiff);
  Put16(42, tiff + 2, order);
  Put32(kHeaderSize, tiff + 4, order);

  Layout write(tiff, tiffSize, order);
  uint64_t written = 0;
  st = LayChain(write, list, &written);
  if (st == ST_OK && written != end) st = ST_WRONG_STATE;
  if (st != ST_OK) return st;

  out->segment = block.release();
  out->segmentOffset = 0;
  out->tiff = tiff;
  out->tiffSize = tiffSize;
  out->byteOrder = order;
  out->ifdOffset = kHeaderSize;
  return ST_OK;
}

}  // namespace qd::tiff

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateExifProperty(IfdQuery* list, TiffBlockInfo* out,
                                                               uint32_t kind) {
  return qd::ToResultCode(qd::tiff::BuildExifBlock(
      list, out, kind == 1 ? qd::tiff::kSignatureLoLe : qd::tiff::kSignatureExif, qd::kLittleEndian));
}
