#include "support/tiff_builder.h"

#include <cstring>

namespace qdtest {

constexpr uint32_t kInline = 4;  // value bytes that fit the entry's last field

TiffIfd& TiffIfd::Rational(uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v) {
  std::vector<uint64_t> words;
  for (const auto& [num, den] : v) words.insert(words.end(), {num, den});
  return Values(tag, kTRational, 4, words).CountField(static_cast<uint32_t>(v.size()));
}

TiffIfd& TiffBuilder::NewIfd() {
  ifds_.push_back(TiffIfd(static_cast<int>(ifds_.size())));
  return ifds_.back();
}

void TiffBuilder::LayOut(std::vector<uint8_t>* bytes, uint32_t origin, TiffImage* image) const {
  Bytes& b = *bytes;
  const bool be = order_ == Order::MM;
  std::vector<size_t> fieldAt;                // per entry, in IFD order
  std::vector<size_t> linkAt(ifds_.size());  // per IFD
  image->ifdOffsets.assign(ifds_.size(), 0);
  for (const TiffIfd& ifd : ifds_) {
    b.resize(b.size() + b.size() % 2);  // on an even offset
    image->ifdOffsets[ifd.index_] = origin + static_cast<uint32_t>(b.size());
    AppendUint(b, ifd.entries_.size(), 2, be);
    const size_t first = fieldAt.size();
    for (const TiffIfd::Entry& e : ifd.entries_) {
      AppendUint(b, e.tag, 2, be);
      AppendUint(b, e.type, 2, be);
      AppendUint(b, e.count, 4, be);
      fieldAt.push_back(b.size());
      AppendUint(b, 0, 4, be);
    }
    linkAt[ifd.index_] = b.size();
    AppendUint(b, 0, 4, be);
    for (size_t i = 0; i < ifd.entries_.size(); ++i) {
      const TiffIfd::Entry& e = ifd.entries_[i];
      size_t at = fieldAt[first + i];
      if (uint64_t{e.element} * e.elements.size() > kInline) {  // out of line
        b.resize(b.size() + b.size() % 2);
        at = b.size();
        PutUint(b, fieldAt[first + i], origin + at, 4, be);
        image->valueOffsets[{ifd.index_, e.tag}] = origin + static_cast<uint32_t>(at);
        b.resize(at + e.element * e.elements.size());
      }
      for (uint64_t v : e.elements) {
        PutUint(b, at, v, e.element, be);
        at += e.element;
      }
    }
  }
  // Fields that name other IFDs, and forced fields, once every IFD has landed.
  size_t n = 0;
  for (const TiffIfd& ifd : ifds_) {
    for (const TiffIfd::Entry& e : ifd.entries_) {
      if (e.subIfd >= 0) PutUint(b, fieldAt[n], image->ifdOffsets.at(e.subIfd), 4, be);
      if (e.field) PutUint(b, fieldAt[n], *e.field, 4, be);
      ++n;
    }
    if (ifd.next_ >= 0) PutUint(b, linkAt[ifd.index_], image->ifdOffsets.at(ifd.next_), 4, be);
  }
}

TiffImage TiffBuilder::Build() const {
  TiffImage image;
  const bool be = order_ == Order::MM;
  image.bytes = {static_cast<uint8_t>(be ? 'M' : 'I'), static_cast<uint8_t>(be ? 'M' : 'I')};
  AppendUint(image.bytes, 42, 2, be);
  AppendUint(image.bytes, 0, 4, be);
  LayOut(&image.bytes, 0, &image);
  const uint32_t ifd0 = image.ifdOffsets.empty() ? 0 : image.ifdOffsets[0];
  PutUint(image.bytes, 4, firstIfd_.value_or(ifd0), 4, be);
  image.bytes.resize(image.bytes.size() + pad_);
  return image;
}

std::vector<uint8_t> TiffBuilder::MakerNote(uint32_t writtenAt, bool footer) const {
  Bytes bytes;
  TiffImage where;
  LayOut(&bytes, writtenAt, &where);
  if (footer) {
    const uint8_t mark = order_ == Order::II ? 'I' : 'M';
    bytes.insert(bytes.end(), {mark, mark, 0x2A, 0x00});
    AppendUint(bytes, writtenAt, 4, false);  // the footer's offset is always little-endian
  }
  return bytes;
}

std::vector<uint8_t> App1Payload(const std::vector<uint8_t>& tiff, const char* signature) {
  Bytes payload(signature, signature + std::strlen(signature));
  payload.resize(6, 0);  // signature, its NUL and the pad byte
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  return payload;
}

}  // namespace qdtest
