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
#include <string>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"
#include "frame/fault.h"
#include "iim/iim_support.h"
#include "support/camera_jpeg.h"
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
  // A failed length query returns before the driver clears (its own rule).
  kLengthBeforeClear = 1u << 6,
  kHandsBack = 1u << 7,      // any failing input callback's error is the result
  kNotApplicable = 1u << 8,  // a file it cannot recognise is QD_E_NOT_APPLICABLE
  // A source it cannot recognise is left out: a read fault may change the result.
  kSourceOptional = 1u << 9,
  // Opens the input for update and writes it in place: a run writes only
  // where the undisturbed run wrote.
  kRewrites = 1u << 10,
  kNoBlocks = 1u << 11,  // allocates nothing, so no allocation fault can reach it
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
  void Add(const void* p, size_t n, bool isCleared) {
    records.emplace_back(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    cleared.push_back(isCleared);
  }
};

// Zero, except the format and size that a JPEG's own frame fills in first.
bool FrameOnly(QdThumbnailInfo t) {
  const bool format = t.format == 0 || t.format == 2;
  t.format = 0, t.width = 0, t.height = 0;
  return format && AllZero(t);
}
bool ImageFrameOnly(const QdImageInfo& image) {
  QdThumbnailInfo head;
  std::memcpy(&head, &image, sizeof head);
  QdImageInfo tail = image;
  std::memset(&tail, 0, sizeof head);
  return FrameOnly(head) && AllZero(tail);
}
const auto kZero = [](const auto& r) { return AllZero(r); };
const auto kUntouched = [](const auto& r) { return Same(r, Filled<std::decay_t<decltype(r)>>()); };

// One run of a row: its streams (slot 0 the input, null for exports over
// buffers; the outputs follow) and every record an export may write, each
// reported, with what a failure leaves in it, when the call takes it.
struct Trial {
  std::vector<std::unique_ptr<TestStream>> at;
  QdThumbnailInfo thumb = Filled<QdThumbnailInfo>();
  QdImageInfo image = Filled<QdImageInfo>();
  QdAuxImageInfo aux = Filled<QdAuxImageInfo>();
  ExifCaptureInfo capture = Filled<ExifCaptureInfo>();
  ExifShotValues shot = Filled<ExifShotValues>();
  uint8_t type = kFill, code = kFill;
  JpegImageInfo jpeg = Filled<JpegImageInfo>();
  QdWaveInfo wave = Filled<QdWaveInfo>();
  QdSoundProperties sound = Filled<QdSoundProperties>();
  uint16_t size[2] = {0xA5A5, 0xA5A5};
  TiffBlockInfo block = Filled<TiffBlockInfo>();
  MakerNoteBuffer note{nullptr, 0, 0, 1};
  HeapObject heap = Filled<HeapObject>();
  char text[2][32];
  MakerNoteLocation location = Filled<MakerNoteLocation>();
  uint16_t tag = 0xA5A5, answer = 0xA5A5;  // the check's failing tag; a yes/no answer
  std::vector<std::function<void(Outcome&)>> reports;

  const qdlStream* in = nullptr;
  const qdlStream* o[3] = {};  // the outputs
  template <typename R, typename Cleared>
  R* Take(R* r, Cleared cleared) {
    reports.push_back([r, cleared](Outcome& o) { o.Add(r, sizeof *r, cleared(*r)); });
    return r;
  }
  QdThumbnailInfo* T() { return Take(&thumb, FrameOnly); }
  QdImageInfo* I() { return Take(&image, ImageFrameOnly); }
  QdAuxImageInfo* A() { return Take(&aux, kZero); }
  ExifCaptureInfo* C() {  // absent capture values
    return Take(&capture, [](ExifCaptureInfo c) {
      c.fileNumber ^= 0xFFFFFFFF;
      return AllZero(c);
    });
  }
  ExifShotValues* S() {
    return Take(&shot, [](const ExifShotValues& s) { return Same(s, NoShotValues()); });
  }
  uint8_t* Type() { return Take(&type, [](uint8_t t) { return t == 0xFF; }); }
  uint8_t* Code() { return Take(&code, [](uint8_t c) { return c == kFill || c == 0; }); }
  JpegImageInfo* Jpeg() { return Take(&jpeg, kZero); }
  QdWaveInfo* Wave() { return Take(&wave, kZero); }
  QdSoundProperties* Sound() { return Take(&sound, kUntouched); }  // nothing filled in
  uint16_t* W() { return *Take(&size, kZero); }
  uint16_t* H() { return &size[1]; }
  MakerNoteLocation* Location() { return Take(&location, kUntouched); }
  uint16_t* Tag() { return Take(&tag, kUntouched); }  // written only for a failed tag
  uint16_t* Answer() { return Take(&answer, [](uint16_t a) { return a == 0 || a == 0xA5A5; }); }
  char* Text(int i) {
    std::memset(text[i], kFill, sizeof text[i]);
    return *Take(&text[i], kZero);
  }
  // A record that owns a block: the bytes it points at on success, then released.
  template <typename R, typename Cleared, typename Held, typename Release>
  R* Own(R* r, Cleared cleared, Held held, Release release) {
    reports.push_back([=](Outcome& o) {
      const Bytes bytes = o.result == QD_OK ? held(*r) : Bytes{};
      o.Add(bytes.data(), bytes.size(), cleared(*r));
      if (o.result == QD_OK) (void)release(r);
    });
    return r;
  }
  TiffBlockInfo* Block() {
    return Own(&block, kZero, [](auto& b) { return Bytes(b.segment, b.tiff + b.tiffSize); },
               qdParseFreeExifBuffer);
  }
  HeapObject* Heap() {  // written only on success
    const auto held = [](auto& h) {
      return Bytes(h.block, h.block + h.headerLength + h.heapLength);
    };
    return Own(&heap, kUntouched, held, [](auto* h) { return qdParseFreeHeapObject(*h); });
  }
  ExtensionInfo* Extension(ExtensionInfo* e) {
    std::memset(e, kFill, sizeof *e);
    const auto held = [](auto& x) { return Bytes(x.buffer, x.buffer + x.size); };
    return Own(e, kZero, held, qdParseFreeApp1Info);
  }
  ExtensionInfo extension[2];
  MakerNoteBuffer* Note() {  // the byte order is the caller's
    const auto cleared = [](auto& n) { return !n.data && n.size == 0 && n.byteOrder == 1; };
    return Own(&note, cleared, [](auto& n) { return Bytes(n.data, n.data + n.size); },
               qdParseFreeMakerNoteBuffer);
  }
};

struct Row {
  const char* name;
  Bytes (*file)();
  int outputs;
  unsigned flags;
  uint32_t (*call)(Trial&);
};

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
Bytes JpegHeapLe() { return JpegHeap(RichHeap(false), false); }
Bytes JpegHeapBe() { return JpegHeap(RichHeap(true), true); }
Bytes TiffRawBe() { return TiffRaw(RichHeap(true), true); }
Bytes ExifJpegLe() { return RichExifJpeg(false); }
Bytes ExifTiffBe() { return RawExifTiff(Order::MM).file; }
Bytes Wave() { return BuildWave(); }
Bytes TiffLe() { return BuildTiffFile(ExifTiffShape(Order::II)).bytes; }
Bytes TiffBe() { return BuildTiffFile(ExifTiffShape(Order::MM)).bytes; }
// Make and Model in IFD0, nothing else recognition knows.
Bytes PlainTiff() {
  TiffShape t = ExifTiffShape(Order::MM);
  t.exifIfd = false;
  return BuildTiffFile(t).bytes;
}

uint32_t Ex2(Trial& r) {
  return QDParseThumbnailFileStreamEx2(r.in, 77, r.T(), r.I(), r.A(), r.C(), r.S(), nullptr,
                                       r.o[0], r.o[1], r.o[2]);
}
template <ExifExport entry>
uint32_t ExifWriter(Trial& r) {
  RichInput in(Bytes(64, 0x5C), true);
  return in.Call(entry, r.Block());
}
uint32_t FileType(Trial& r) { return qdParseGetFileType(r.in, r.Code(), r.Text(0), r.Text(1)); }
uint32_t PropHeap(Trial& r) {
  JpegSofInfo sof{};
  JfifInfo jfif{};
  TiffImageInfo tiff{};
  return qdParseGetPropHeapObject(r.in, r.Code(), r.Heap(), &sof, &jfif, &tiff);
}
uint32_t MakerNote(Trial& r) {
  RichInput in(Bytes(64, 0x5C), true);
  return qdParseCreateMakerNote(&in.image, &in.capture, &in.shot, in.records.list(), r.Note());
}
uint32_t ExifProperty(Trial& r) {
  const auto q = [](uint16_t op, uint16_t tag, uint16_t type, const void* data, uint32_t size) {
    return IfdQuery{op, tag, type, 0, reinterpret_cast<uintptr_t>(data), size, 0};
  };
  IfdQuery list[] = {q(IFDQ_READ, 0x010F, 2, "Vedra", 6), q(IFDQ_ENTER, 0x8769, 4, nullptr, 1),
                     q(IFDQ_READ, 0x9000, 7, "0220", 4), q(IFDQ_LEAVE, 0, 0, nullptr, 0),
                     q(IFDQ_END, 0, 0, nullptr, 0)};
  return qdParseCreateExifProperty(list, r.Block(), 0);
}

// Every record the writer tests give, over the rich files of each kind.
uint32_t Replace(Trial& r) {
  RichInput in(Bytes(64, 0x5C), true);
  const QdAuxImageInfo second{"Second", 10, 0, 0, 0, 100, 50, 0, 96, 96, {7, 8, 9}};
  return QDParseReplaceProperties2(r.in, &in.image, &second, &in.capture, &in.shot,
                                   in.records.list());
}
// A value it cannot allocate is QD_E_NOT_APPLICABLE, like an empty one.
constexpr unsigned kSingle = kHandsBack | kRewrites | kNotApplicable;
template <uint32_t id>
uint32_t ReplaceSingle(Trial& r) {
  TestStream value(Bytes{6, 0, 0, 0});
  return QDParseReplaceSingleProperty(r.in, r.Type(), id, value.stream());
}

// The Exif path passes over a value it cannot allocate; an Exif TIFF's thumbnail is cropped
// with one read.
constexpr unsigned kExifJpeg = kHandsBack | kWalksValues;
constexpr unsigned kExifTiff = kWalksValues | kOneRead;
constexpr unsigned kStrip = kOneRead | kWholeOrNothing;
constexpr unsigned kFullView = kLengthBeforeClear;

// Exchange records for the IIM rows, and a preserved block of them.
const Bytes kIimRecords = Concat({iim::Record(2, 5, "abc"), iim::Record(2, 120, "hello")});
std::vector<IimRecord*> kIimList = iim::List(kIimRecords);
Bytes IimPreserved() { return Concat({parse::Text("VEDRADC_IIM"), {0, 0, 0, 1, 1, 0, 0, 0}, {2, 5, 0, 0, 0, 1, 'x'}}); }

const Row kRows[] = {
    {"Ex2_HeapFile", HeapLe, 3, kHandsBack, Ex2},
    {"Ex2_JpegHeap", JpegHeapLe, 3, kHandsBack, Ex2},
    {"Ex2_TiffRaw", [] { return TiffRaw(RichHeap(false), false); }, 3, kHandsBack, Ex2},
    {"Ex2_ExifJpeg", ExifJpegLe, 3, kExifJpeg, Ex2},
    // Its thumbnail copy passes over a failed position query and reports a failed size query
    // plainly, so only the parse without that copy below must hand back every host error.
    {"Ex2_ExifTiff", [] { return RawExifTiff(Order::II).file; }, 3, kExifTiff, Ex2},
    {"Stream_HeapFile", HeapBe, 0, kHandsBack,
     [](Trial& r) { return QDParseStream(r.in, r.T(), r.I(), r.C(), r.S(), r.Type()); }},
    {"Stream2_ExifTiff", ExifTiffBe, 0, kHandsBack | kExifTiff,
     [](Trial& r) { return QDParseStream2(r.in, r.T(), r.I(), r.A(), r.C(), r.S(), r.Type()); }},
    {"ThumbnailFileStream_JpegHeap", JpegHeapBe, 2, kHandsBack, [](Trial& r) {
       return QDParseThumbnailFileStream(r.in, 0, r.T(), r.I(), r.C(), r.S(), nullptr,
                                         r.o[0], r.o[1]);
     }},
    {"ThumbnailFileStreamEx_ExifJpeg", [] { return RichExifJpeg(true); }, 3, kExifJpeg,
     [](Trial& r) {
       return QDParseThumbnailFileStreamEx(r.in, 5000, r.T(), r.I(), r.C(), r.S(), nullptr,
                                           r.o[0], r.o[1], r.o[2]);
     }},
    {"GetFileStream_TiffRaw", TiffRawBe, 3, kHandsBack, [](Trial& r) {
       return QDParseGetFileStream(r.in, 9, r.T(), r.I(), r.C(), r.S(), nullptr, r.o[0],
                                   r.o[1], r.o[2]);
     }},
    {"GetFileStream2_HeapFile", HeapBe, 3, kHandsBack, [](Trial& r) {
       return QDParseGetFileStream2(r.in, 9, r.T(), r.I(), r.A(), r.C(), r.S(), nullptr,
                                    r.o[0], r.o[1], r.o[2]);
     }},
    {"FullViewFileStream_TiffRaw", TiffRawBe, 2, kHandsBack | kFullView, [](Trial& r) {
       return QDParseFullViewFileStream(r.in, r.I(), r.C(), r.S(), nullptr, r.o[0], r.o[1]);
     }},
    {"FullViewFileStreamEx_ExifJpeg", ExifJpegLe, 3, kExifJpeg | kFullView, [](Trial& r) {
       return QDParseFullViewFileStreamEx(r.in, r.I(), r.C(), r.S(), nullptr, r.o[0],
                                          r.o[1], r.o[2]);
     }},
    {"GetDCFThumbnail_ExifTiff", ExifTiffBe, 1, kExifTiff,
     [](Trial& r) { return QDParseGetDCFThumbnail(r.in, r.o[0]); }},
    {"GetJPEGInfo", LongJpeg, 0, kNoBlocks, [](Trial& r) { return QDParseGetJPEGInfo(r.in, r.Jpeg()); }},
    {"GetSOFData", LongJpeg, 1, kWholeOrNothing,
     [](Trial& r) { return QDParseGetSOFData(r.in, r.o[0]); }},
    {"GetJpegDataFromQdRAW", RawWithImages, 1, kWholeOrNothing,
     [](Trial& r) { return qdParseGetJpegDataFromQdRAW(r.in, 1, r.o[0]); }},
    {"CropStream", HeapLe, 1, kOneRead | kWholeOrNothing,
     [](Trial& r) { return _cropStream(r.in, 4, 24, r.o[0]); }},
    {"GetTWAINThumbnailData", TiffLe, 1, kStrip,
     [](Trial& r) { return qdParseGetTWAINThumbnailDataFromTiffRAW(r.in, r.W(), r.H(), r.o[0]); }},
    {"GetLCDData", TiffBe, 1, kStrip,
     [](Trial& r) { return qdParseGetLCDDataFromTiffRAW(r.in, r.W(), r.H(), r.o[0]); }},
    {"JpegCheck", [] { return CameraJpeg(); }, 0, 0,
     [](Trial& r) { return QDParseJpegCheck(r.in, 0, r.Tag(), r.Answer()); }},
    {"HasVedraOptionalData", [] { return Concat({CameraJpeg(), Bytes(64, 0)}); }, 0, kNoBlocks,
     [](Trial& r) { return QDParseHasVedraOptionalData(r.in, r.Answer()); }},
    {"GetWAVEInfo", Wave, 0, kNoBlocks, [](Trial& r) { return QDParseGetWAVEInfo(r.in, r.Wave()); }},
    {"SoundProperties", Wave, 0, kLengthOnly | kOpenOnLength,
     [](Trial& r) { return QDParseSoundProperties(r.in, r.Sound(), 0); }},
    {"GetPropHeapObject_TiffRaw", TiffRawBe, 0, kHandsBack, PropHeap},
    {"GetHeapObjectDeveloped_HeapFile", HeapBe, 0, kHandsBack,
     [](Trial& r) { return qdParseGetHeapObjectDeveloped(r.in, &r.image, 0, 0, r.Heap()); }},
    {"SetDeveloped_JpegHeap", JpegHeapBe, 0, kHandsBack,
     [](Trial& r) { return QDParseSetDeveloped(r.in, 0, 0); }},
    {"GetFileType_ExifJpeg", ExifJpegLe, 0, kHandsBack | kNotApplicable, FileType},
    {"GetFileType_PlainTiff", PlainTiff, 0, kHandsBack | kNotApplicable, FileType},
    {"GetSingleProperty_HeapFile", HeapLe, 1, kHandsBack,
     [](Trial& r) { return QDParseGetSingleProperty(r.in, r.Code(), 0x1100180E, r.o[0]); }},
    {"GetSingleProperty_ExifTiff", ExifTiffBe, 1, kHandsBack,
     [](Trial& r) { return QDParseGetSingleProperty(r.in, r.Code(), 0x00020110, r.o[0]); }},
    {"GetDCFMakerNote_ExifTiff", ExifTiffBe, 1, kHandsBack | kNotApplicable,
     [](Trial& r) { return qdParseGetDCFMakerNote(r.in, r.Location(), r.o[0]); }},
    {"CreateHeapObjectEx2_JpegHeap", JpegHeapLe, 0, kHandsBack | kSourceOptional,
     [](Trial& r) {
       return qdParseCreateHeapObjectEx2(r.in, &r.image, nullptr, nullptr, nullptr, r.Heap(),
                                         nullptr);
     }},
    {"ReplaceProperties_ExifJpeg", ExifJpegLe, 0, kHandsBack | kRewrites, Replace},
    {"ReplaceProperties_ExifTiff", ExifTiffBe, 0, kHandsBack | kRewrites, Replace},
    {"ReplaceProperties_HeapFile", HeapBe, 0, kHandsBack | kRewrites, Replace},
    {"ReplaceProperties_JpegHeap", JpegHeapLe, 0, kHandsBack | kRewrites, Replace},
    {"ReplaceProperties_TiffRaw", TiffRawBe, 0, kHandsBack | kRewrites, Replace},
    {"ReplaceSingleProperty_ExifJpeg", ExifJpegLe, 0, kSingle, ReplaceSingle<0x00030112>},
    {"ReplaceSingleProperty_ExifTiff", ExifTiffBe, 0, kSingle, ReplaceSingle<0x01129003>},
    {"ReplaceSingleProperty_JpegHeap", JpegHeapBe, 0, kSingle, ReplaceSingle<0x00001817>},
    {"GetExifPropBufferWithReplace", ExifJpegLe, 0, kHandsBack, [](Trial& r) {
       RichInput in(Bytes(64, 0x5C), true);
       return qdParseGetExifPropBufferWithReplace(r.in, &in.image, &in.capture, &in.shot,
                                                  in.records.list(), r.Block());
     }},
    {"ExifJpegMakeImageProperty", ExifJpegLe, 0, kHandsBack, [](Trial& r) {
       RichInput in(Bytes(64, 0x5C), true);
       return qdParseExifJpegMakeImageProperty(r.in, &in.image, &in.capture, &in.shot,
                                               in.records.list(), r.Extension(&r.extension[0]),
                                               r.Extension(&r.extension[1]));
     }},
    {"CreateHeapObject", nullptr, 0, kBuffers, [](Trial& r) {
       return qdParseCreateHeapObject(nullptr, &r.image, &r.capture, &r.shot, nullptr, r.Heap());
     }},
    {"CreateExifPropBuffer", nullptr, 0, kBuffers, ExifWriter<qdParseCreateExifPropBuffer>},
    {"CreateExifPropBufferEx", nullptr, 0, kBuffers, ExifWriter<qdParseCreateExifPropBufferEx>},
    {"CreateLossLessPropBuffer", nullptr, 0, kBuffers,
     ExifWriter<qdParseCreateLossLessPropBuffer>},
    {"CreateMakerNote", nullptr, 0, kBuffers, MakerNote},
    {"CreateExifProperty", nullptr, 0, kBuffers, ExifProperty},
    {"GetIIMInfo_ExifJpeg", [] { return iim::IimJpeg(); }, 1, 0,
     [](Trial& r) { return QDParseGetIIMInfo(r.in, r.o[0]); }},
    {"GetIIMInfo_ExifTiff", [] { return iim::IimTiff(Order::MM); }, 1, 0,
     [](Trial& r) { return QDParseGetIIMInfo(r.in, r.o[0]); }},
    {"ReplaceIIMInfo_ExifJpeg", [] { return iim::IimJpeg(); }, 0, kRewrites,
     [](Trial& r) { return QDParseReplaceIIMInfo(r.in, kIimList.data()); }},
    {"MakePreserveIIMInfo_Stream", [] { return kIimRecords; }, 1, kWholeOrNothing,
     [](Trial& r) { return QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_STREAM, r.in, r.o[0]); }},
    {"MakePreserveIIMInfo_List", nullptr, 1, kBuffers,
     [](Trial& r) { return QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_LIST, kIimList.data(), r.o[0]); }},
    {"ReadPreserveIIMInfo", IimPreserved, 1, 0,
     [](Trial& r) { return QDParseReadPreserveIIMInfo(r.in, r.o[0]); }},
};

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
void PrintTo(const Case& c, std::ostream* os) {
  *os << kRows[c.row].name << " " << kFaultNames[c.fault];
}

class ExportSweep : public testing::TestWithParam<Case> {
 protected:
  const Row& row_ = kRows[GetParam().row];
  const Fault fault_ = GetParam().fault;
  const unsigned flags_ = row_.flags;
  Bytes file_;
  std::unique_ptr<Trial> undisturbed_;
  Outcome ref_;                 // what the undisturbed run reported
  std::vector<uint32_t> asks_;  // the sizes of its input's reads

  // Fresh streams and records for the row; `arm` sets a fault before the call.
  Outcome Call(Trial* s, const std::function<void()>& arm = [] {}) {
    s->at.push_back((flags_ & kBuffers) ? nullptr : std::make_unique<TestStream>(file_));
    for (int i = 0; i < row_.outputs; ++i) s->at.push_back(std::make_unique<TestStream>());
    for (size_t i = 0; i < s->at.size(); ++i) {
      if (s->at[i]) (i == 0 ? s->in : s->o[i - 1]) = s->at[i]->stream();
    }
    arm();
    Outcome o{row_.call(*s)};
    for (const auto& report : s->reports) report(o);
    return o;
  }

  // One run with the fault at position n of stream `slot`; false when it did not fire.
  bool RunAt(int slot, int n) {
    Trial s;
    TestStream* target = nullptr;
    const int64_t live = qd::fault::LiveBlocks();
    const Outcome got = Call(&s, [&] {
      target = s.at[slot].get();
      switch (fault_) {
        case kAllocation: qd::fault::FailAllocation(static_cast<uint64_t>(n)); break;
        case kHost: target->FailNthCall(n, kHostError); break;
        case kShortRead: target->LimitRead(n, asks_[n - 1] / 2); break;
        case kEmptyRead: target->LimitRead(n, 0); break;
        case kOverlongRead: target->ReportCount(Callback::Read, n, asks_[n - 1] + 1); break;
      }
    });
    const bool fired = fault_ == kAllocation ? qd::fault::Fired()
                       : fault_ == kHost     ? target->FaultFired()
                                             : target->CountOf(Callback::Read) >= n;
    qd::fault::FailAllocation(0);
    const bool hostFault = fault_ == kHost && fired;
    const Callback failed = hostFault ? target->calls()[n - 1].callback : Callback::Aux;
    SCOPED_TRACE(testing::Message() << kFaultNames[fault_] << " at " << n << " of stream " << slot
                                    << " " << (hostFault ? CallbackName(failed) : ""));
    EXPECT_EQ(qd::fault::LiveBlocks(), live) << "blocks leaked";

    std::vector<uint32_t> ok = {QD_OK, QD_E_FAILED};  // a reader without its buffer fails plainly
    if (fault_ == kAllocation) ok.push_back(QD_E_NO_MEMORY);
    if (fault_ == kHost) ok.insert(ok.end(), {kHostError, QD_E_UNSUPPORTED});
    if (fault_ > kHost) ok.insert(ok.end(), {QD_E_SHORT_READ, QD_E_UNSUPPORTED, QD_E_CORRUPT});
    if (flags_ & kNotApplicable) ok.push_back(QD_E_NOT_APPLICABLE);
    EXPECT_NE(std::find(ok.begin(), ok.end(), got.result), ok.end())
        << "result 0x" << std::hex << got.result;
    // An output's own error is the result; exports that write through a port report QD_E_FAILED.
    if (slot > 0 && fired) {
      EXPECT_TRUE(got.result == kHostError || got.result == QD_E_FAILED) << "output error lost";
    }
    // The input's open and close errors are the result, and so is a parse's every input
    // error; a refused open calls nothing else.
    const bool inputFault = slot == 0 && hostFault;
    const bool openFailed = inputFault && failed == Callback::Open;
    if (inputFault && (openFailed || failed == Callback::Close || (flags_ & kHandsBack))) {
      EXPECT_EQ(got.result, kHostError) << "the host's error lost";
    }
    const bool lengthFailed = inputFault && (failed == Callback::Tell || failed == Callback::Seek);
    for (size_t i = 0; i < s.at.size(); ++i) {
      if (!s.at[i]) continue;
      if (openFailed) EXPECT_EQ(s.at[i]->TotalCalls(), s.at[i].get() == target ? 1 : 0);
      const bool exempt = static_cast<int>(i) == slot &&
                          ((hostFault && failed == Callback::Close) ||
                           (lengthFailed && (flags_ & kOpenOnLength)));
      if (!exempt) EXPECT_FALSE(s.at[i]->IsOpen()) << "stream " << i << " left open";
    }
    for (const WriteRange& w : s.at[0] ? s.at[0]->writes() : std::vector<WriteRange>{}) {
      bool inside = false;
      for (const WriteRange& u : undisturbed_->at[0]->writes()) {
        inside |= w.offset >= u.offset && w.offset + w.length <= u.offset + u.length;
      }
      EXPECT_TRUE(inside && (flags_ & kRewrites)) << "the input was written at " << w.offset;
    }

    const bool degraded = fault_ == kAllocation && fired && (flags_ & kWalksValues);
    const bool truncated = (fault_ == kShortRead || fault_ == kEmptyRead) && (flags_ & kOneRead);
    for (int i = 1; i <= row_.outputs; ++i) {
      const TestStream& want = *undisturbed_->at[i];
      uint32_t begin = UINT32_MAX, end = 0;
      for (const WriteRange& w : want.writes()) {
        begin = std::min(begin, w.offset);
        end = std::max(end, w.offset + w.length);
      }
      for (const WriteRange& w : s.at[i]->writes()) {
        EXPECT_TRUE(w.offset >= begin && w.offset + w.length <= end)
            << "output " << i << " written at " << w.offset;
      }
      const Bytes& data = s.at[i]->data();
      const bool fewer = degraded && Subsequence(ReadRecords(data), ReadRecords(want.data()));
      if (got.result == QD_OK) {
        EXPECT_TRUE(data == want.data() || fewer || (truncated && IsPrefix(data, want.data())))
            << "output " << i;
      } else if (flags_ & kWholeOrNothing) {
        EXPECT_TRUE(data.empty() || data == want.data()) << "output " << i << " partly written";
      } else {
        EXPECT_TRUE(IsPrefix(data, want.data()) || fewer) << "output " << i << " is no prefix";
      }
    }
    const bool sourceLeftOut = fault_ > kHost && (flags_ & kSourceOptional);
    for (size_t i = 0; i < got.records.size() && !degraded && !sourceLeftOut; ++i) {
      const Bytes& rec = got.records[i];
      const bool untouched =
          std::all_of(rec.begin(), rec.end(), [](uint8_t b) { return b == kFill; });
      if (got.result == QD_OK) {
        EXPECT_EQ(rec, ref_.records[i]) << "record " << i << " differs after success";
      } else if (openFailed) {
        EXPECT_TRUE(untouched) << "record " << i << " touched before the stream opened";
      } else {
        EXPECT_TRUE(got.cleared[i] || rec == ref_.records[i] ||
                    (untouched && lengthFailed && (flags_ & kLengthBeforeClear)))
            << "record " << i << " left dirty";
      }
    }
    return fired;
  }
};

TEST_P(ExportSweep, EveryPositionEndsCleanly) {
  if (row_.file) file_ = row_.file();
  undisturbed_ = std::make_unique<Trial>();
  ref_ = Call(undisturbed_.get());
  ASSERT_EQ(ref_.result, QD_OK) << "the fixture must succeed undisturbed";
  if (const TestStream* in = undisturbed_->at[0].get()) {
    if (in->CountOf(Callback::Open) != 0) {
      EXPECT_EQ(in->lastOpenMode(), (flags_ & kRewrites) ? QD_OPEN_UPDATE : QD_OPEN_READ);
    }
    for (const qdtest::Call& c : in->calls()) {
      if (c.callback == Callback::Read) asks_.push_back(c.arg);
    }
  }
  int positions = 0;
  for (int slot = 0; slot < (fault_ == kHost ? 1 + row_.outputs : 1); ++slot) {
    // A run is the undisturbed one up to its fault: reads past the undisturbed run's never come.
    for (int n = 1; fault_ <= kHost || static_cast<size_t>(n) <= asks_.size(); ++n) {
      if (!RunAt(slot, n)) break;
      ++positions;
      if (HasFailure() || positions > 100000) return;
    }
  }
  RecordProperty("positions", positions);
  if (!(flags_ & kLengthOnly)) EXPECT_GT(positions, 0) << "the fault never reached the export";
}

std::vector<Case> Cases() {
  std::vector<Case> out;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    for (Fault f : {kAllocation, kHost, kShortRead, kEmptyRead, kOverlongRead}) {
      const unsigned skip = f == kAllocation ? kNoBlocks : f == kHost ? kBuffers : kBuffers | kLengthOnly;
      if (!(kRows[i].flags & skip)) out.push_back({i, f});
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
  TestStream noClose(CameraJpeg());
  noClose.SetNull(Callback::Close);
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
      [&] { return QDParseReplaceProperties(nullptr, nullptr, nullptr, nullptr, nullptr); },
      [&] { return QDParseReplaceProperties(noRead.stream(), nullptr, nullptr, nullptr, nullptr); },
      [&] { return QDParseReplaceSingleProperty(i, nullptr, 0x1810, nullptr); },
      [&] { return qdParseGetExifPropBufferWithReplace(i, {}, {}, {}, {}, {}); },
      [&] { return qdParseExifJpegMakeImageProperty(i, {}, {}, {}, {}, {}, {}); },
      [&] { return QDParseGetIIMInfo(i, nw); },
      [&] { return QDParseReplaceIIMInfo(i, nullptr); },
      [&] { return QDParseMakePreserveIIMInfo(3, i, o); },
      [&] { return QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_LIST, nullptr, o); },
      [&] { return QDParseReadPreserveIIMInfo(noRead.stream(), o); },
      [&] { return QDParseJpegCheck(i, 0, nullptr, &w); },
      [&] { return QDParseJpegCheck(i, 0, &w, nullptr); },
      [&] { return QDParseJpegCheck(noClose.stream(), 0, &w, &w); },
      [&] { return QDParseHasVedraOptionalData(i, nullptr); },
  };
  for (size_t k = 0; k < std::size(calls); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(calls[k](), QD_E_INVALID_ARG);
  }
  EXPECT_EQ(in.TotalCalls() + out.TotalCalls() + noWrite.TotalCalls() + noRead.TotalCalls() +
                noClose.TotalCalls(), 0);
  EXPECT_EQ(qd::fault::LiveBlocks(), 0);
}

}  // namespace
}  // namespace qdtest
