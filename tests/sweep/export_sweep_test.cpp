// One fault sweep over the exports. Each row is a call that succeeds on its
// fixture; it runs under an allocation failure, a host-callback error on each
// of its streams, a short read, an empty read and a read that claims one byte
// more than was asked, at every position until the fault no longer fires.
// Every run ends in success with the undisturbed run's outputs, or in a
// failure code with each record cleared or as the undisturbed run left it; no
// block leaks, every stream is closed again, the input is never written and an
// output only where the undisturbed run wrote it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"
#include "frame/fault.h"
#include "support/wave_builder.h"

namespace qdtest {
namespace {

using namespace parse;

constexpr uint32_t kHostError = 0x7E5F00Du;
constexpr uint8_t kFill = 0xA5;  // a caller's record before the call

enum Fault { kAllocation, kHost, kShortRead, kEmptyRead, kOverlongRead };
const char* const kFaultNames[] = {"Allocation", "Host", "ShortRead", "EmptyRead", "OverlongRead"};

enum Flags : unsigned {
  kBuffers = 1u << 0,         // no stream: allocation failures only
  kLengthOnly = 1u << 1,      // reads nothing but the stream's length
  kOneRead = 1u << 2,         // copies with one read: a short one succeeds with what came
  kWalksValues = 1u << 3,     // an IFD value it cannot allocate is passed over
  kWholeOrNothing = 1u << 4,  // a failure leaves each output empty or whole
  kOpenOnLength = 1u << 5,    // a failed length query returns without closing (its own rule)
  kLengthBeforeClear = 1u << 6,  // a failed length query returns before the driver clears (its own rule)
  kHandsBack = 1u << 7,          // any failing input callback's error is the result
  kNotApplicable = 1u << 8,      // a file it cannot recognise is QD_E_NOT_APPLICABLE
  kSourceOptional = 1u << 9,     // a source it cannot recognise is left out: a read fault may change the result
};

template <typename R>
R Filled() {
  R r;
  std::memset(&r, kFill, sizeof r);
  return r;
}
template <typename R>
bool Same(const R& a, const R& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A call's result and output records, each with whether it holds what a failure leaves.
struct Outcome {
  uint32_t result = QD_OK;
  std::vector<Bytes> records;
  std::vector<bool> cleared;
  void Add(const Bytes& b, bool isCleared) { records.push_back(b), cleared.push_back(isCleared); }
  template <typename R>
  void Add(const R& r, bool isCleared) {
    Add(Bytes(reinterpret_cast<const uint8_t*>(&r), reinterpret_cast<const uint8_t*>(&r) + sizeof r), isCleared);
  }
};

// Slot 0 is the input (null for exports over buffers), the outputs follow.
struct Streams {
  std::vector<std::unique_ptr<TestStream>> at;
  const qdlStream* in() { return at[0]->stream(); }
  const qdlStream* out(size_t i) { return at[1 + i]->stream(); }
};

// Zero, except the format and size that a JPEG's own frame fills in first.
bool FrameOnly(QdThumbnailInfo t) {
  const bool format = t.format == 0 || t.format == 2;
  t.format = 0, t.width = 0, t.height = 0;
  return format && AllZero(t);
}

// Every record an export writes, each reported when the call takes it.
struct Out {
  QdThumbnailInfo thumb = Filled<QdThumbnailInfo>();
  QdImageInfo image = Filled<QdImageInfo>();
  QdAuxImageInfo aux = Filled<QdAuxImageInfo>();
  ExifCaptureInfo capture = Filled<ExifCaptureInfo>();
  ExifShotValues shot = Filled<ExifShotValues>();
  uint8_t type = kFill;
  JpegImageInfo jpeg = Filled<JpegImageInfo>();
  QdWaveInfo wave = Filled<QdWaveInfo>();
  QdSoundProperties sound = Filled<QdSoundProperties>();
  uint16_t size[2] = {0xA5A5, 0xA5A5};
  TiffBlockInfo block = Filled<TiffBlockInfo>();
  MakerNoteBuffer note{nullptr, 0, 0, 1};  // the byte order is the caller's
  HeapObject heap = Filled<HeapObject>();
  uint8_t code = kFill;
  char text[2][32];
  MakerNoteLocation location = Filled<MakerNoteLocation>();
  unsigned used = 0;
  QdThumbnailInfo* T() { return used |= 1, &thumb; }
  QdImageInfo* I() { return used |= 2, &image; }
  QdAuxImageInfo* A() { return used |= 4, &aux; }
  ExifCaptureInfo* C() { return used |= 8, &capture; }
  ExifShotValues* S() { return used |= 16, &shot; }
  uint8_t* Type() { return used |= 32, &type; }
  JpegImageInfo* Jpeg() { return used |= 64, &jpeg; }
  QdWaveInfo* Wave() { return used |= 128, &wave; }
  QdSoundProperties* Sound() { return used |= 256, &sound; }
  uint16_t* W() { return used |= 512, &size[0]; }
  uint16_t* H() { return &size[1]; }
  TiffBlockInfo* Block() { return used |= 1024, &block; }
  MakerNoteBuffer* Note() { return used |= 2048, &note; }
  HeapObject* Heap() { return used |= 4096, &heap; }
  uint8_t* Code() { return used |= 8192, &code; }
  char* Text(int i) { return used |= 16384, std::memset(text[i], kFill, 32), text[i]; }
  MakerNoteLocation* Location() { return used |= 32768, &location; }

  // What a failure leaves: cleared records (a JPEG's frame may already have
  // described its format and size), absent capture and shot values, and
  // nothing filled in the sound properties.
  Outcome Report(uint32_t result) {
    Outcome o{result};
    QdThumbnailInfo head;
    std::memcpy(&head, &image, sizeof head);
    QdImageInfo tail = image;
    std::memset(&tail, 0, sizeof head);
    ExifCaptureInfo noCapture{};
    noCapture.fileNumber = 0xFFFFFFFF;
    if (used & 1) o.Add(thumb, FrameOnly(thumb));
    if (used & 2) o.Add(image, FrameOnly(head) && AllZero(tail));
    if (used & 4) o.Add(aux, AllZero(aux));
    if (used & 8) o.Add(capture, Same(capture, noCapture));
    if (used & 16) o.Add(shot, Same(shot, NoShotValues()));
    if (used & 32) o.Add(type, type == 0xFF);
    if (used & 64) o.Add(jpeg, AllZero(jpeg));
    if (used & 128) o.Add(wave, AllZero(wave));
    if (used & 256) o.Add(sound, Same(sound, Filled<QdSoundProperties>()));
    if (used & 512) o.Add(size, size[0] == 0 && size[1] == 0);
    if (used & 1024) {
      o.Add(result == QD_OK ? Bytes(block.segment, block.tiff + block.tiffSize) : Bytes{}, AllZero(block));
      if (result == QD_OK) (void)qdParseFreeExifBuffer(&block);
    }
    if (used & 4096) {  // written only on success
      o.Add(result == QD_OK ? Bytes(heap.block, heap.block + heap.headerLength + heap.heapLength) : Bytes{},
            Same(heap, Filled<HeapObject>()));
      if (result == QD_OK) (void)qdParseFreeHeapObject(heap);
    }
    if (used & 8192) o.Add(code, code == kFill || code == 0);
    if (used & 16384) {
      for (const char* t : text) o.Add(Bytes(t, t + 32), AllZero(*reinterpret_cast<const char(*)[32]>(t)));
    }
    if (used & 32768) o.Add(location, Same(location, Filled<MakerNoteLocation>()));
    if (used & 2048) {
      o.Add(note.data != nullptr ? Bytes(note.data, note.data + note.size) : Bytes{},
            note.data == nullptr && note.size == 0 && note.byteOrder == 1);
      (void)qdParseFreeMakerNoteBuffer(&note);
    }
    return o;
  }
};

struct Row {
  const char* name;
  Bytes (*file)();
  int outputs;
  unsigned flags;
  uint32_t (*call)(Streams&, Out&);
};

Bytes Counting() {
  Bytes b(40);
  std::iota(b.begin(), b.end(), uint8_t{1});
  return b;
}
// A JPEG whose first segment outgrows the readers' buffer.
Bytes LongJpeg() { return AfterSoi(EncodeJpeg(), {Segment(marker::kAPP1, Bytes(3000, 'x'))}); }
// A heap file whose root holds both embedded images.
Bytes RawWithImages() {
  HeapBuilder root(true);
  root.Data(0x0805, {'c', 0});
  root.Data(0x2007, Bytes(300, 0x3C));
  root.Data(0x2008, {0xFF, 0xD8, 0xFF, 0xD9});
  return HeapFileBuilder(root).Build();
}
Bytes HeapLe() { return HeapFile(RichHeap(false), false); }
Bytes HeapBe() { return HeapFile(RichHeap(true), true); }
Bytes TiffRawBe() { return TiffRaw(RichHeap(true), true); }
Bytes ExifTiffBe() { return RawExifTiff(Order::MM).file; }

uint32_t Ex2(Streams& s, Out& r) {
  return QDParseThumbnailFileStreamEx2(s.in(), 77, r.T(), r.I(), r.A(), r.C(), r.S(), nullptr, s.out(0), s.out(1),
                                       s.out(2));
}
uint32_t ExifWriter(ExifExport entry, Out& r) {
  RichInput in(Bytes(64, 0x5C), true);
  return in.Call(entry, r.Block());
}

// Make and Model in IFD0, nothing else recognition knows.
Bytes PlainTiff() {
  TiffShape t = ExifTiffShape(Order::MM);
  t.exifIfd = false;
  return BuildTiffFile(t).bytes;
}

uint32_t PropHeap(const qdlStream* in, Out& r) {
  JpegSofInfo sof{};
  JfifInfo jfif{};
  TiffImageInfo tiff{};
  return qdParseGetPropHeapObject(in, r.Code(), r.Heap(), &sof, &jfif, &tiff);
}

// The Exif path passes over a value it cannot allocate; an Exif TIFF's thumbnail is cropped with one read.
constexpr unsigned kExifJpeg = kWalksValues;
constexpr unsigned kExifTiff = kWalksValues | kOneRead;
constexpr unsigned kStrip = kOneRead | kWholeOrNothing;
constexpr unsigned kFullView = kLengthBeforeClear;

// A row's call: its streams are `s`, its records `r`.
#define CALL(call) []([[maybe_unused]] Streams& s, [[maybe_unused]] Out& r) { return call; }

const Row kRows[] = {
    {"Ex2_HeapFile", HeapLe, 3, kHandsBack, Ex2},
    {"Ex2_JpegHeap", [] { return JpegHeap(RichHeap(false), false); }, 3, kHandsBack, Ex2},
    {"Ex2_TiffRaw", [] { return TiffRaw(RichHeap(false), false); }, 3, kHandsBack, Ex2},
    {"Ex2_ExifJpeg", [] { return RichExifJpeg(false); }, 3, kHandsBack | kExifJpeg, Ex2},
    // Its thumbnail copy passes over a failed position query and reports a failed size query
    // plainly, so only the parse without that copy below must hand back every host error.
    {"Ex2_ExifTiff", [] { return RawExifTiff(Order::II).file; }, 3, kExifTiff, Ex2},
    {"Stream_HeapFile", HeapBe, 0, kHandsBack,
     CALL(QDParseStream(s.in(), r.T(), r.I(), r.C(), r.S(), r.Type()))},
    {"Stream2_ExifTiff", ExifTiffBe, 0, kHandsBack | kExifTiff,
     CALL(QDParseStream2(s.in(), r.T(), r.I(), r.A(), r.C(), r.S(), r.Type()))},
    {"ThumbnailFileStream_JpegHeap", [] { return JpegHeap(RichHeap(true), true); }, 2, kHandsBack,
     CALL(QDParseThumbnailFileStream(s.in(), 0, r.T(), r.I(), r.C(), r.S(), nullptr,
          s.out(0), s.out(1)))},
    {"ThumbnailFileStreamEx_ExifJpeg", [] { return RichExifJpeg(true); }, 3, kHandsBack | kExifJpeg,
     CALL(QDParseThumbnailFileStreamEx(s.in(), 5000, r.T(), r.I(), r.C(), r.S(), nullptr,
          s.out(0), s.out(1), s.out(2)))},
    {"GetFileStream_TiffRaw", TiffRawBe, 3, kHandsBack,
     CALL(QDParseGetFileStream(s.in(), 9, r.T(), r.I(), r.C(), r.S(), nullptr,
          s.out(0), s.out(1), s.out(2)))},
    {"GetFileStream2_HeapFile", HeapBe, 3, kHandsBack,
     CALL(QDParseGetFileStream2(s.in(), 9, r.T(), r.I(), r.A(), r.C(), r.S(), nullptr,
          s.out(0), s.out(1), s.out(2)))},
    {"FullViewFileStream_TiffRaw", TiffRawBe, 2, kHandsBack | kFullView,
     CALL(QDParseFullViewFileStream(s.in(), r.I(), r.C(), r.S(), nullptr, s.out(0), s.out(1)))},
    {"FullViewFileStreamEx_ExifJpeg", [] { return RichExifJpeg(false); }, 3, kHandsBack | kExifJpeg | kFullView,
     CALL(QDParseFullViewFileStreamEx(s.in(), r.I(), r.C(), r.S(), nullptr,
          s.out(0), s.out(1), s.out(2)))},
    {"GetDCFThumbnail_ExifTiff", ExifTiffBe, 1, kExifTiff,
     CALL(QDParseGetDCFThumbnail(s.in(), s.out(0)))},
    {"GetJPEGInfo", LongJpeg, 0, 0, CALL(QDParseGetJPEGInfo(s.in(), r.Jpeg()))},
    {"GetSOFData", LongJpeg, 1, kWholeOrNothing, CALL(QDParseGetSOFData(s.in(), s.out(0)))},
    {"GetJpegDataFromQdRAW", RawWithImages, 1, kWholeOrNothing,
     CALL(qdParseGetJpegDataFromQdRAW(s.in(), 1, s.out(0)))},
    {"CropStream", Counting, 1, kOneRead | kWholeOrNothing,
     CALL(_cropStream(s.in(), 4, 24, s.out(0)))},
    {"GetTWAINThumbnailData", [] { return BuildTiffFile(ExifTiffShape(Order::II)).bytes; }, 1, kStrip,
     CALL(qdParseGetTWAINThumbnailDataFromTiffRAW(s.in(), r.W(), r.H(), s.out(0)))},
    {"GetLCDData", [] { return BuildTiffFile(ExifTiffShape(Order::MM)).bytes; }, 1, kStrip,
     CALL(qdParseGetLCDDataFromTiffRAW(s.in(), r.W(), r.H(), s.out(0)))},
    {"GetWAVEInfo", [] { return BuildWave(); }, 0, 0, CALL(QDParseGetWAVEInfo(s.in(), r.Wave()))},
    {"SoundProperties", [] { return BuildWave(); }, 0, kLengthOnly | kOpenOnLength,
     CALL(QDParseSoundProperties(s.in(), r.Sound(), 0))},
    {"GetPropHeapObject_TiffRaw", TiffRawBe, 0, kHandsBack, CALL(PropHeap(s.in(), r))},
    {"GetHeapObjectDeveloped_HeapFile", HeapBe, 0, kHandsBack,
     CALL(qdParseGetHeapObjectDeveloped(s.in(), &r.image, 0, 0, r.Heap()))},
    {"SetDeveloped_JpegHeap", [] { return JpegHeap(RichHeap(true), true); }, 0, kHandsBack,
     CALL(QDParseSetDeveloped(s.in(), 0, 0))},
    {"GetFileType_ExifJpeg", [] { return RichExifJpeg(false); }, 0, kHandsBack | kNotApplicable,
     CALL(qdParseGetFileType(s.in(), r.Code(), r.Text(0), r.Text(1)))},
    {"GetFileType_PlainTiff", PlainTiff, 0, kHandsBack | kNotApplicable,
     CALL(qdParseGetFileType(s.in(), r.Code(), r.Text(0), r.Text(1)))},
    {"GetSingleProperty_HeapFile", HeapLe, 1, kHandsBack,
     CALL(QDParseGetSingleProperty(s.in(), r.Code(), 0x1100180E, s.out(0)))},
    {"GetSingleProperty_ExifTiff", ExifTiffBe, 1, kHandsBack,
     CALL(QDParseGetSingleProperty(s.in(), r.Code(), 0x00020110, s.out(0)))},
    {"GetDCFMakerNote_ExifTiff", ExifTiffBe, 1, kHandsBack | kNotApplicable,
     CALL(qdParseGetDCFMakerNote(s.in(), r.Location(), s.out(0)))},
    {"CreateHeapObjectEx2_JpegHeap", [] { return JpegHeap(RichHeap(false), false); }, 0, kHandsBack | kSourceOptional,
     CALL(qdParseCreateHeapObjectEx2(s.in(), &r.image, nullptr, nullptr, nullptr, r.Heap(), nullptr))},
    {"CreateHeapObject", nullptr, 0, kBuffers,
     CALL(qdParseCreateHeapObject(nullptr, &r.image, &r.capture, &r.shot, nullptr, r.Heap()))},
    {"CreateExifPropBuffer", nullptr, 0, kBuffers,
     CALL(ExifWriter(qdParseCreateExifPropBuffer, r))},
    {"CreateExifPropBufferEx", nullptr, 0, kBuffers,
     CALL(ExifWriter(qdParseCreateExifPropBufferEx, r))},
    {"CreateLossLessPropBuffer", nullptr, 0, kBuffers,
     CALL(ExifWriter(qdParseCreateLossLessPropBuffer, r))},
    {"CreateMakerNote", nullptr, 0, kBuffers,
     [](Streams&, Out& r) {
       RichInput in(Bytes(64, 0x5C), true);
       return qdParseCreateMakerNote(&in.image, &in.capture, &in.shot, in.records.list(), r.Note());
     }},
    {"CreateExifProperty", nullptr, 0, kBuffers,
     [](Streams&, Out& r) {
       const auto q = [](uint16_t op, uint16_t tag, uint16_t type, const void* data, uint32_t size) {
         return IfdQuery{op, tag, type, 0, reinterpret_cast<uintptr_t>(data), size, 0};
       };
       IfdQuery list[] = {q(IFDQ_READ, 0x010F, 2, "Vedra", 6), q(IFDQ_ENTER, 0x8769, 4, nullptr, 1),
                          q(IFDQ_READ, 0x9000, 7, "0220", 4), q(IFDQ_LEAVE, 0, 0, nullptr, 0),
                          q(IFDQ_END, 0, 0, nullptr, 0)};
       return qdParseCreateExifProperty(list, r.Block(), 0);
     }},
};

// A call of the row's export with fresh records.
Outcome Invoke(const Row& row, Streams& s) {
  Out r;
  const uint32_t result = row.call(s, r);
  return r.Report(result);
}

Streams Fresh(const Row& row, const Bytes& file) {
  Streams s;
  s.at.push_back((row.flags & kBuffers) ? nullptr : std::make_unique<TestStream>(file));
  for (int i = 0; i < row.outputs; ++i) s.at.push_back(std::make_unique<TestStream>());
  return s;
}

bool IsPrefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}
// Every record of `part` is one of `whole`'s, in the same order.
bool Subsequence(const RecordStream& part, const RecordStream& whole) {
  size_t at = 0;
  for (const auto& r : part) {
    while (at < whole.size() && whole[at] != r) ++at;
    if (at++ == whole.size()) return false;
  }
  return true;
}

struct Case {
  size_t row;
  Fault fault;
};
void PrintTo(const Case& c, std::ostream* os) { *os << kRows[c.row].name << " " << kFaultNames[c.fault]; }

class ExportSweep : public testing::TestWithParam<Case> {
 protected:
  const Row& row_ = kRows[GetParam().row];
  const Fault fault_ = GetParam().fault;
  Bytes file_;
  Streams undisturbed_;
  Outcome ref_;                 // what the undisturbed run reported
  std::vector<uint32_t> asks_;  // the sizes of its input's reads

  // One run with the fault at position n of stream `slot`; false when it did not fire.
  bool RunAt(int slot, int n) {
    Streams s = Fresh(row_, file_);
    TestStream* target = s.at[slot].get();
    switch (fault_) {
      case kAllocation: qd::fault::FailAllocation(static_cast<uint64_t>(n)); break;
      case kHost: target->FailNthCall(n, kHostError); break;
      case kShortRead: target->LimitRead(n, asks_[n - 1] / 2); break;
      case kEmptyRead: target->LimitRead(n, 0); break;
      case kOverlongRead: target->ReportCount(Callback::Read, n, asks_[n - 1] + 1); break;
    }
    const int64_t live = qd::fault::LiveBlocks();
    const Outcome got = Invoke(row_, s);
    const bool fired = fault_ == kAllocation ? qd::fault::Fired()
                       : fault_ == kHost     ? target->FaultFired()
                                             : target->CountOf(Callback::Read) >= n;
    qd::fault::FailAllocation(0);
    const Callback failed = fault_ == kHost && fired ? target->calls()[n - 1].callback : Callback::Aux;
    SCOPED_TRACE(testing::Message() << kFaultNames[fault_] << " at " << n << " of stream " << slot << " "
                                    << (failed != Callback::Aux ? CallbackName(failed) : ""));
    EXPECT_EQ(qd::fault::LiveBlocks(), live) << "blocks leaked";

    std::vector<uint32_t> ok = {QD_OK, QD_E_FAILED};  // a reader without its buffer fails plainly
    if (fault_ == kAllocation) ok.push_back(QD_E_NO_MEMORY);
    if (fault_ == kHost) ok.insert(ok.end(), {kHostError, QD_E_UNSUPPORTED});
    if (fault_ > kHost) ok.insert(ok.end(), {QD_E_SHORT_READ, QD_E_UNSUPPORTED, QD_E_CORRUPT});
    if (row_.flags & kNotApplicable) ok.push_back(QD_E_NOT_APPLICABLE);
    EXPECT_NE(std::find(ok.begin(), ok.end(), got.result), ok.end()) << "result 0x" << std::hex << got.result;
    // An output's own error is the result; exports that write through a port report QD_E_FAILED.
    if (slot > 0 && fired) EXPECT_TRUE(got.result == kHostError || got.result == QD_E_FAILED) << "output error lost";
    // The input's open and close errors are the result, and so is a parse's every input
    // error; a refused open calls nothing else.
    const bool handsBack = (row_.flags & kHandsBack) && failed != Callback::Aux;
    if (slot == 0 && (failed == Callback::Open || failed == Callback::Close || handsBack)) {
      EXPECT_EQ(got.result, kHostError) << "the host's error lost";
    }
    if (slot == 0 && failed == Callback::Open) {
      for (const auto& t : s.at) EXPECT_EQ(t->TotalCalls(), t.get() == target ? 1 : 0);
    }

    const bool lengthFailed = slot == 0 && (failed == Callback::Tell || failed == Callback::Seek);
    for (size_t i = 0; i < s.at.size(); ++i) {
      const bool exempt = static_cast<int>(i) == slot &&
                          (failed == Callback::Close || (lengthFailed && (row_.flags & kOpenOnLength)));
      if (s.at[i] && !exempt) EXPECT_FALSE(s.at[i]->IsOpen()) << "stream " << i << " left open";
    }
    if (s.at[0]) EXPECT_TRUE(s.at[0]->writes().empty()) << "the input was written";

    const bool degraded = fault_ == kAllocation && fired && (row_.flags & kWalksValues);
    const bool truncated = (fault_ == kShortRead || fault_ == kEmptyRead) && (row_.flags & kOneRead);
    for (int i = 1; i <= row_.outputs; ++i) {
      const TestStream& want = *undisturbed_.at[i];
      uint32_t begin = UINT32_MAX, end = 0;
      for (const WriteRange& w : want.writes()) {
        begin = std::min(begin, w.offset), end = std::max(end, w.offset + w.length);
      }
      for (const WriteRange& w : s.at[i]->writes()) {
        EXPECT_TRUE(w.offset >= begin && w.offset + w.length <= end) << "output " << i << " written at " << w.offset;
      }
      const Bytes& data = s.at[i]->data();
      const bool fewer = degraded && Subsequence(ReadRecords(data), ReadRecords(want.data()));
      if (got.result == QD_OK) {
        EXPECT_TRUE(data == want.data() || fewer || (truncated && IsPrefix(data, want.data()))) << "output " << i;
      } else if (row_.flags & kWholeOrNothing) {
        EXPECT_TRUE(data.empty() || data == want.data()) << "output " << i << " partly written";
      } else {
        EXPECT_TRUE(IsPrefix(data, want.data()) || fewer) << "output " << i << " is no prefix";
      }
    }
    const bool sourceLeftOut = fault_ > kHost && (row_.flags & kSourceOptional);
    for (size_t i = 0; i < got.records.size() && !degraded && !sourceLeftOut; ++i) {
      const Bytes& rec = got.records[i];
      const bool untouched = std::all_of(rec.begin(), rec.end(), [](uint8_t b) { return b == kFill; });
      if (got.result == QD_OK) {
        EXPECT_EQ(rec, ref_.records[i]) << "record " << i << " differs after success";
      } else if (slot == 0 && failed == Callback::Open) {
        EXPECT_TRUE(untouched) << "record " << i << " touched before the stream opened";
      } else {
        EXPECT_TRUE(got.cleared[i] || rec == ref_.records[i] ||
                    (untouched && lengthFailed && (row_.flags & kLengthBeforeClear)))
            << "record " << i << " left dirty";
      }
    }
    return fired;
  }
};

TEST_P(ExportSweep, EveryPositionEndsCleanly) {
  if (row_.file) file_ = row_.file();
  undisturbed_ = Fresh(row_, file_);
  ref_ = Invoke(row_, undisturbed_);
  ASSERT_EQ(ref_.result, QD_OK) << "the fixture must succeed undisturbed";
  if (undisturbed_.at[0] && undisturbed_.at[0]->CountOf(Callback::Open) != 0) {
    EXPECT_EQ(undisturbed_.at[0]->lastOpenMode(), QD_OPEN_READ);
  }
  if (undisturbed_.at[0]) {
    for (const Call& c : undisturbed_.at[0]->calls()) {
      if (c.callback == Callback::Read) asks_.push_back(c.arg);
    }
  }
  int positions = 0;
  for (int slot = 0; slot < (fault_ == kHost ? 1 + row_.outputs : 1); ++slot) {
    // A run is the undisturbed one up to its fault, so reads beyond the undisturbed run's never come.
    for (int n = 1; fault_ <= kHost || static_cast<size_t>(n) <= asks_.size(); ++n) {
      if (!RunAt(slot, n)) break;
      ++positions;
      if (HasFailure() || positions > 100000) return;
    }
  }
  RecordProperty("positions", positions);
  if (!(row_.flags & kLengthOnly)) EXPECT_GT(positions, 0) << "the fault never reached the export";
}

std::vector<Case> Cases() {
  std::vector<Case> out;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const unsigned flags = kRows[i].flags;
    out.push_back({i, kAllocation});
    if (!(flags & kBuffers)) out.push_back({i, kHost});
    for (Fault f : {kShortRead, kEmptyRead, kOverlongRead}) {
      if (!(flags & (kBuffers | kLengthOnly))) out.push_back({i, f});
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Exports, ExportSweep, testing::ValuesIn(Cases()), [](const auto& info) {
  return std::string(kRows[info.param.row].name) + "_" + kFaultNames[info.param.fault];
});

// Missing arguments and callbacks are refused before any callback is made.
TEST(ExportArguments, AMissingArgumentOrCallbackCallsNothing) {
  TestStream in(HeapBe()), out, noWrite, noRead(HeapBe());
  noWrite.SetNull(Callback::Write);
  noRead.SetNull(Callback::Read);
  QdImageInfo image{};
  HeapObject heap{};
  QdSoundProperties sound{};
  uint16_t w = 0;
  const qdlStream* o = out.stream();
  const qdlStream* nw = noWrite.stream();
  const qdlStream* i = in.stream();
  const std::function<uint32_t()> calls[] = {
      [&] { return qdParseGetJpegDataFromQdRAW(i, 3, o); },
      [&] { return qdParseGetJpegDataFromQdRAW(noRead.stream(), 1, o); },
      [&] { return qdParseGetJpegDataFromQdRAW(i, 1, nw); },
      [&] { return qdParseGetTWAINThumbnailDataFromTiffRAW(i, &w, &w, nw); },
      [&] { return _cropStream(i, 0, 4, nullptr); },
      [&] { return QDParseGetSOFData(i, nullptr); },
      [&] { return qdParseGetHeapObjectDeveloped(i, nullptr, 0, 0, &heap); },
      [&] { return qdParseGetHeapObjectDeveloped(i, &image, 0, 0, nullptr); },
      [&] { return qdParseGetPropHeapObject(i, nullptr, &heap, nullptr, nullptr, nullptr); },
      [&] { return qdParseGetDCFMakerNote(i, nullptr, nullptr); },
      [&] { return qdParseGetDCFMakerNote(i, nullptr, nw); },
      [&] { return QDParseGetSingleProperty(i, nullptr, 0x1810, nw); },
      [&] { return qdParseGetFileType(i, nullptr, nullptr, nullptr); },
      [&] { return qdParseCreateHeapObject(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
      [&] { return qdParseMergePropertiesIntoHeapObject(nullptr, nullptr, &heap); },
      [&] { return QDParseSoundProperties(i, nullptr, 0); },
      [&] { return QDParseSoundProperties(nullptr, &sound, 0); },
      [&] { return QDParseStream2(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
  };
  for (size_t k = 0; k < std::size(calls); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(calls[k](), QD_E_INVALID_ARG);
  }
  EXPECT_EQ(in.TotalCalls() + out.TotalCalls() + noWrite.TotalCalls() + noRead.TotalCalls(), 0);
  EXPECT_EQ(qd::fault::LiveBlocks(), 0);
}

}  // namespace
}  // namespace qdtest
