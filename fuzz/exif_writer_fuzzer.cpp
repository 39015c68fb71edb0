// The Exif writers over caller records decoded from the input: the three
// property buffers and the maker note alone. Each result is read back with
// qdParseExifProperty and must hold what the records put in; the maker note
// must be the one the extended buffer carries (less its relocation footer);
// releasing everything leaves no block.
//
// Input, through FuzzedDataProvider: a flags byte (bit 0 image, bit 1
// capture, bit 2 shot values given; bit 3 big-endian maker note), the three
// records' bytes, then property records {code in 0..0x11F, size in 0..4095,
// payload} until the input ends.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/byte_order.h"
#include "frame/fault.h"
#include "frame/memory_block.h"
#include "query_list.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxRecords = 64;
constexpr uint16_t kThumbnailCode = 0x05;

struct Inputs {
  ExifImageInfo image{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{};
  const ExifImageInfo* imagePtr = nullptr;
  const ExifCaptureInfo* capturePtr = nullptr;
  const ExifShotValues* shotPtr = nullptr;
  bool bigEndianNote = false;
  std::vector<Bytes> records;  // head and payload, each in a buffer of its own size
  std::vector<PropertyRecord*> list;
  const Bytes* thumbnail = nullptr;  // the last thumbnail record's payload

  explicit Inputs(FuzzedDataProvider& in) {
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    in.ConsumeData(&image, sizeof image);
    in.ConsumeData(&capture, sizeof capture);
    in.ConsumeData(&shot, sizeof shot);
    if ((flags & 1) != 0) imagePtr = &image;
    if ((flags & 2) != 0) capturePtr = &capture;
    if ((flags & 4) != 0) shotPtr = &shot;
    bigEndianNote = (flags & 8) != 0;
    while (in.remaining_bytes() != 0 && records.size() < kMaxRecords) {
      const uint16_t code = in.ConsumeIntegralInRange<uint16_t>(0, 0x11F);
      const uint16_t n = in.ConsumeIntegralInRange<uint16_t>(0, 4095);
      const Bytes payload = in.ConsumeBytes<uint8_t>(n);
      Bytes r(6 + payload.size());
      qd::PutLE16(code, r.data());
      qd::PutLE32(static_cast<uint32_t>(payload.size()), r.data() + 2);
      if (!payload.empty()) std::memcpy(r.data() + 6, payload.data(), payload.size());
      records.push_back(std::move(r));
    }
    for (Bytes& r : records) {
      list.push_back(reinterpret_cast<PropertyRecord*>(r.data()));
      if (qd::GetLE16(r.data()) == kThumbnailCode) thumbnail = &r;
    }
    list.push_back(nullptr);
  }

  // Model as the writer keeps it: at most 31 characters, zero-filled.
  void ExpectedModel(char (&model)[32]) const {
    std::memset(model, 0, sizeof model);
    if (imagePtr == nullptr || image.valid == 0) return;
    for (size_t i = 0; i < 31 && image.model[i] != '\0'; ++i) model[i] = image.model[i];
  }
};

enum Q : size_t {
  kMake, kModel, kOrientation, kXResolution, kExifIfd, kVersion, kDateTime, kColorSpace, kWidth, kHeight,
  kNoteAt, kNote, kSettings, kShotInfo, kImageType, kFirmware, kFileNumber, kOwner, kNoteEnd, kComment,
  kInterop, kInteropIndex, kInteropEnd, kExifEnd, kIfd1, kThumbAt, kThumbSize, kEnd, kQueries
};

const QueryShape kShape[kQueries] = {
    {IFDQ_READ, 0x010F, 2, 0},   {IFDQ_READ, 0x0110, 2, 32},  {IFDQ_READ, 0x0112, 3, 2},
    {IFDQ_READ, 0x011A, 5, 8},   {IFDQ_ENTER, 0x8769, 0, 0},  {IFDQ_READ, 0x9000, 7, 4},
    {IFDQ_READ, 0x9003, 2, 20},  {IFDQ_READ, 0xA001, 3, 2},   {IFDQ_READ, 0xA002, 3, 2},
    {IFDQ_READ, 0xA003, 3, 2},   {IFDQ_LOCATE, 0x927C, 7, 0}, {IFDQ_ENTER, 0x927C, 0, 0},
    {IFDQ_READ, 0x0001, 3, 0},   {IFDQ_READ, 0x0004, 3, 0},   {IFDQ_READ, 0x0006, 2, 32},
    {IFDQ_READ, 0x0007, 2, 32},  {IFDQ_READ, 0x0008, 4, 4},   {IFDQ_READ, 0x0009, 2, 32},
    {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_READ, 0x9286, 7, 0},   {IFDQ_ENTER, 0xA005, 0, 0},
    {IFDQ_READ, 0x0001, 2, 4},   {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_LEAVE, 0, 0, 0},
    {IFDQ_NEXT_IFD, 0, 0, 0},    {IFDQ_READ, 0x0201, 4, 4},   {IFDQ_READ, 0x0202, 4, 4},
    {IFDQ_END, 0, 0, 0},
};

template <typename T>
T Value(const QueryList<kQueries>& q, size_t i) {
  T v;
  std::memcpy(&v, reinterpret_cast<const void*>(q[i].data), sizeof v);
  return v;
}

template <typename Record>
bool AllZero(const Record& r) {
  const Record zero{};
  return std::memcmp(&r, &zero, sizeof r) == 0;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// Where the extended buffer's maker note lies: its offset and byte count.
struct NoteSpan {
  uint32_t offset = 0, size = 0;
};

// Builds one buffer, reads it back and releases it.
NoteSpan CheckBuffer(const Inputs& in, decltype(&qdParseCreateExifPropBuffer) create, const char* signature,
                     bool basic, Bytes* tiffCopy) {
  TiffBlockInfo out;
  std::memset(&out, 0xA5, sizeof out);
  Check(create(in.imagePtr, in.capturePtr, in.shotPtr, const_cast<PropertyRecord**>(in.list.data()), &out) ==
        QD_OK);
  Check(out.segment != nullptr && std::memcmp(out.segment, signature, 6) == 0 && out.tiff == out.segment + 6);
  Check(qd::BlockLength(out.segment) == uint64_t{out.tiffSize} + 6 && out.byteOrder == 0 && out.ifdOffset == 8);

  NoteSpan note;
  {
    QueryList<kQueries> q(kShape);
    TiffBlockInfo block = out;
    block.ifdOffset = 0;  // from the header
    Check(qdParseExifProperty(&block, q.list()) == QD_OK);
    for (size_t i : {kModel, kOrientation, kXResolution, kExifIfd, kVersion, kColorSpace, kWidth, kHeight,
                     kNoteAt, kNote, kImageType, kFirmware, kFileNumber, kOwner}) {
      Check(q[i].found != 0);
    }
    char model[32];
    in.ExpectedModel(model);
    Check(q[kModel].size == 32 && std::memcmp(reinterpret_cast<const void*>(q[kModel].data), model, 32) == 0);
    const bool imageValid = in.imagePtr != nullptr && in.image.valid != 0;
    Check(Value<uint16_t>(q, kWidth) == (imageValid ? in.image.width : 0));
    Check(Value<uint16_t>(q, kHeight) == (imageValid ? in.image.height : 0));
    Check(Value<uint32_t>(q, kFileNumber) == (in.capturePtr != nullptr ? in.capture.fileNumber : 0));
    // The basic form has no settings arrays and no firmware text.
    const auto* firmware = reinterpret_cast<const char*>(q[kFirmware].data);
    Check(basic ? firmware[0] == '\0' : std::strncmp(firmware, "Firmware Version", 16) == 0);
    if (basic) Check(q[kSettings].found == 0 && q[kShotInfo].found == 0);
    if (!basic && q[kSettings].found != 0) Check(q[kSettings].size == 92);

    if (in.thumbnail != nullptr && in.thumbnail->size() > 6) {
      const uint32_t at = Value<uint32_t>(q, kThumbAt);
      const uint32_t n = Value<uint32_t>(q, kThumbSize);
      Check(q[kThumbAt].found != 0 && q[kThumbSize].found != 0 && n == in.thumbnail->size() - 6);
      Check(uint64_t{at} + n <= out.tiffSize && std::memcmp(out.tiff + at, in.thumbnail->data() + 6, n) == 0);
    }
    note.offset = static_cast<uint32_t>(q[kNoteAt].data);
    note.size = q[kNoteAt].size;
    Check(uint64_t{note.offset} + note.size <= out.tiffSize);
  }
  if (tiffCopy != nullptr) tiffCopy->assign(out.tiff, out.tiff + out.tiffSize);
  Check(qdParseFreeExifBuffer(&out) == QD_OK && AllZero(out));
  return note;
}

// The maker note alone: the extended buffer's one without its footer when
// little-endian; in either order an IFD whose file number reads back.
void CheckMakerNote(const Inputs& in, const Bytes& exTiff, const NoteSpan& exNote) {
  MakerNoteBuffer note{};
  note.byteOrder = in.bigEndianNote ? 1 : 0;
  const uint32_t result =
      qdParseCreateMakerNote(in.imagePtr, in.capturePtr, in.shotPtr, const_cast<PropertyRecord**>(in.list.data()),
                             &note);
  if (result != QD_OK || note.data == nullptr) {
    Check(result == QD_OK || result == QD_E_OTHER_MAKER);
    Check(qdParseFreeMakerNoteBuffer(&note) == QD_OK);
    return;
  }
  Check(qd::BlockLength(note.data) == note.size && note.size >= 6);
  if (!in.bigEndianNote) {
    Check(note.offset == exNote.offset && note.size + 8 == exNote.size);
    Check(std::memcmp(note.data, exTiff.data() + note.offset, note.size) == 0);
  }
  // Put back where it was built (one spare byte: values may not end the block).
  Bytes tiff(uint64_t{note.offset} + note.size + 1);
  std::memcpy(tiff.data() + note.offset, note.data, note.size);
  uint8_t fileNumber[4] = {};
  IfdQuery list[2] = {};
  list[0] = {IFDQ_READ, 0x0008, 4, 0, reinterpret_cast<uintptr_t>(fileNumber), sizeof fileNumber, 0};
  list[1].op = IFDQ_END;
  TiffBlockInfo block{};
  block.tiff = tiff.data();
  block.tiffSize = static_cast<uint32_t>(tiff.size());
  block.byteOrder = note.byteOrder;
  block.ifdOffset = note.offset;
  Check(qdParseExifProperty(&block, list) == QD_OK && list[0].found != 0);
  uint32_t value;
  std::memcpy(&value, fileNumber, 4);
  Check(value == (in.capturePtr != nullptr ? in.capture.fileNumber : 0));
  Check(qdParseFreeMakerNoteBuffer(&note) == QD_OK && AllZero(note));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  FuzzedDataProvider provider(data, size);
  const Inputs in(provider);
  const int64_t live = qd::fault::LiveBlocks();

  (void)CheckBuffer(in, qdParseCreateExifPropBuffer, "Exif\0\0", true, nullptr);
  (void)CheckBuffer(in, qdParseCreateLossLessPropBuffer, "LoLe\0\0", false, nullptr);
  Bytes exTiff;
  const NoteSpan exNote = CheckBuffer(in, qdParseCreateExifPropBufferEx, "Exif\0\0", false, &exTiff);
  CheckMakerNote(in, exTiff, exNote);
  Check(qd::fault::LiveBlocks() == live);
  return 0;
}
