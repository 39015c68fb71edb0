#include "support/tiff_builder.h"

#include <cstring>

#include "frame/memory_block.h"  // only for PayloadBlock's allocation

namespace qdtest {
namespace {

constexpr uint32_t kInline = 4;  // value bytes that fit the entry's last field

// Appends numbers of a given width in a given byte order.
class Writer {
 public:
  Writer(Order order, std::vector<uint8_t>* out) : order_(order), out_(*out) {}

  std::vector<uint8_t>& bytes() { return out_; }
  uint32_t here() const { return static_cast<uint32_t>(out_.size()); }

  void Put(uint64_t v, uint32_t n) {
    out_.resize(out_.size() + n);
    PutAt(here() - n, v, n);
  }
  void PutAt(uint32_t at, uint64_t v, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t shift = 8 * (order_ == Order::II ? i : n - 1 - i);
      out_[at + i] = static_cast<uint8_t>(v >> shift);
    }
  }
  void Align() {
    if (out_.size() % 2 != 0) out_.push_back(0);
  }

 private:
  Order order_;
  std::vector<uint8_t>& out_;
};

}  // namespace

// ---- Entries ----------------------------------------------------------------

TiffIfd& TiffIfd::Add(Entry e) {
  entries_.push_back(std::move(e));
  return *this;
}

TiffIfd& TiffIfd::Values(uint16_t tag, uint16_t type, uint32_t element, const std::vector<uint64_t>& v) {
  return Add({tag, type, static_cast<uint32_t>(v.size()), element, v});
}

TiffIfd& TiffIfd::Byte(uint16_t tag, const std::vector<uint8_t>& v) {
  return Values(tag, kTByte, 1, {v.begin(), v.end()});
}

TiffIfd& TiffIfd::Undefined(uint16_t tag, const std::vector<uint8_t>& v) {
  return Values(tag, kTUndefined, 1, {v.begin(), v.end()});
}

TiffIfd& TiffIfd::Ascii(uint16_t tag, const std::string& text) {
  std::vector<uint64_t> v(text.begin(), text.end());
  v.push_back(0);
  return Values(tag, kTAscii, 1, v);
}

TiffIfd& TiffIfd::Short(uint16_t tag, const std::vector<uint16_t>& v) {
  return Values(tag, kTShort, 2, {v.begin(), v.end()});
}

TiffIfd& TiffIfd::Long(uint16_t tag, const std::vector<uint32_t>& v) {
  return Values(tag, kTLong, 4, {v.begin(), v.end()});
}

TiffIfd& TiffIfd::Rational(uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v) {
  std::vector<uint64_t> words;
  for (const auto& [num, den] : v) words.insert(words.end(), {num, den});
  Values(tag, kTRational, 4, words);
  entries_.back().count = static_cast<uint32_t>(v.size());
  return *this;
}

TiffIfd& TiffIfd::Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
  Entry e{tag, type, count, 1, {}};
  e.field = field;
  return Add(std::move(e));
}

TiffIfd& TiffIfd::Sub(uint16_t tag, const TiffIfd& ifd) {
  Entry e{tag, kTLong, 1, 4, {}};
  e.subIfd = ifd.index();
  return Add(std::move(e));
}

TiffIfd& TiffIfd::CountField(uint32_t raw) {
  entries_.back().count = raw;
  return *this;
}

TiffIfd& TiffIfd::ValueField(uint32_t raw) {
  entries_.back().field = raw;
  return *this;
}

TiffIfd& TiffIfd::Next(const TiffIfd& ifd) {
  next_ = ifd.index();
  return *this;
}

TiffIfd& TiffIfd::NextRaw(uint32_t link) {
  nextRaw_ = link;
  return *this;
}

TiffIfd& TiffIfd::EntryCount(uint16_t count) {
  entryCount_ = count;
  return *this;
}

// ---- Layout -------------------------------------------------------------------

TiffIfd& TiffBuilder::NewIfd() {
  ifds_.push_back(TiffIfd(static_cast<int>(ifds_.size())));
  return ifds_.back();
}

TiffBuilder& TiffBuilder::Magic(uint16_t value) {
  magic_ = value;
  return *this;
}

TiffBuilder& TiffBuilder::FirstIfd(uint32_t offset) {
  firstIfd_ = offset;
  return *this;
}

TiffBuilder& TiffBuilder::Pad(uint32_t bytes) {
  pad_ = bytes;
  return *this;
}

void TiffBuilder::LayOut(std::vector<uint8_t>* bytes, uint32_t origin, TiffImage* image) const {
  Writer w(order_, bytes);
  std::vector<uint32_t> fieldAt;                    // per entry, in IFD order
  std::vector<uint32_t> linkAt(ifds_.size());       // per IFD
  image->ifdOffsets.assign(ifds_.size(), 0);
  for (const TiffIfd& ifd : ifds_) {
    w.Align();
    image->ifdOffsets[ifd.index_] = origin + w.here();
    w.Put(ifd.entryCount_.value_or(static_cast<uint16_t>(ifd.entries_.size())), 2);
    const uint32_t first = w.here();
    for (const TiffIfd::Entry& e : ifd.entries_) {
      w.Put(e.tag, 2);
      w.Put(e.type, 2);
      w.Put(e.count, 4);
      w.Put(0, 4);
    }
    linkAt[ifd.index_] = w.here();
    w.Put(0, 4);
    for (size_t i = 0; i < ifd.entries_.size(); ++i) {
      const TiffIfd::Entry& e = ifd.entries_[i];
      const uint32_t field = first + 12 * static_cast<uint32_t>(i) + 8;
      fieldAt.push_back(field);
      const uint64_t size = uint64_t{e.element} * e.elements.size();
      uint32_t at = field;
      if (size > kInline) {
        w.Align();
        at = w.here();
        w.PutAt(field, origin + at, 4);
        image->valueOffsets[{ifd.index_, e.tag}] = origin + at;
        w.bytes().resize(at + size);
      }
      for (uint64_t v : e.elements) {
        w.PutAt(at, v, e.element);
        at += e.element;
      }
    }
  }
  // Second pass: fields that name other IFDs, and forced fields.
  size_t n = 0;
  for (const TiffIfd& ifd : ifds_) {
    for (const TiffIfd::Entry& e : ifd.entries_) {
      const uint32_t field = fieldAt[n++];
      if (e.subIfd >= 0) w.PutAt(field, image->ifdOffsets.at(e.subIfd), 4);
      if (e.field) w.PutAt(field, *e.field, 4);
    }
    if (ifd.next_ >= 0) w.PutAt(linkAt[ifd.index_], image->ifdOffsets.at(ifd.next_), 4);
    if (ifd.nextRaw_) w.PutAt(linkAt[ifd.index_], *ifd.nextRaw_, 4);
  }
}

TiffImage TiffBuilder::Build() const {
  TiffImage image;
  Writer w(order_, &image.bytes);
  w.Put(order_ == Order::II ? 0x4949 : 0x4D4D, 2);
  w.Put(magic_, 2);
  w.Put(0, 4);
  LayOut(&image.bytes, 0, &image);
  const uint32_t first = firstIfd_ ? *firstIfd_ : image.ifdOffsets.empty() ? 0 : image.ifdOffsets[0];
  w.PutAt(4, first, 4);
  image.bytes.resize(image.bytes.size() + pad_);
  return image;
}

std::vector<uint8_t> TiffBuilder::MakerNote(uint32_t writtenAt, bool footer) const {
  std::vector<uint8_t> bytes;
  TiffImage where;
  LayOut(&bytes, writtenAt, &where);
  if (footer) {
    const uint8_t mark = order_ == Order::II ? 'I' : 'M';
    bytes.insert(bytes.end(), {mark, mark, 0x2A, 0x00});
    Writer(Order::II, &bytes).Put(writtenAt, 4);  // the footer's offset is always little-endian
  }
  return bytes;
}

// ---- APP1 payloads ------------------------------------------------------------

std::vector<uint8_t> App1Payload(const std::vector<uint8_t>& tiff, const char* signature) {
  std::vector<uint8_t> payload(signature, signature + std::strlen(signature));
  payload.resize(6, 0);  // signature, its NUL and the pad byte
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  return payload;
}

uint8_t* PayloadBlock(const std::vector<uint8_t>& payload) {
  uint8_t* block = qd::BlockAlloc(static_cast<uint32_t>(payload.size()));
  if (block != nullptr && !payload.empty()) std::memcpy(block, payload.data(), payload.size());
  return block;
}

}  // namespace qdtest
