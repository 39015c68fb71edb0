// What a parse costs its host: a light memory stream that counts callbacks
// and bytes and keeps the ranges read, and large files of the three kinds the
// parse exports are fed most, each with the part of the file that holds image
// data and must stay unread.
//
//   const std::vector<ParseFixture> files = ParseFixtures();
//   CountingStream in(files[0].bytes);
//   ParseSinks sinks;
//   uint32_t result = ParseEverything(files[0], &in, &sinks);
//   std::string problem = ReadBoundProblem(files[0], in);  // empty: within bounds
//
// Shared by the read-bound test and the parse benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qdparse.h"
#include "support/test_stream.h"

namespace qdtest {

using Bytes = std::vector<uint8_t>;

// Over a copy of `source`, read only, or, default constructed, an output
// that keeps what is written and is emptied by an open for writing.
class CountingStream : public TestStream {
 public:
  CountingStream();
  explicit CountingStream(const Bytes& source);

  const Bytes& written() const { return data_; }

  uint64_t calls() const { return calls_.size(); }  // every callback (hides the log)
  uint64_t reads() const { return static_cast<uint64_t>(CountOf(Callback::Read)); }
  uint64_t bytesRead() const;  // delivered, repeats included
  uint32_t highestRead() const;  // one past the last byte read
  // Bytes of [begin, end) delivered at least once.
  uint64_t DistinctBytesIn(uint32_t begin, uint32_t end) const;
  void ResetCounts() {
    calls_.clear();
    reads_.clear();
  }
};

// Slack for the buffered readers' windows, which may run into image data.
constexpr uint32_t kReadSlack = 2048;

struct ParseFixture {
  std::string name;
  Bytes bytes;
  uint8_t fileType = 0;  // the code the parse reports
  // A read past this is a read of image data. A heap file's root table lies
  // at its very end, so there it is the file size.
  uint32_t readLimit = 0;
  // The image data itself: at most kReadSlack bytes of it may be read.
  uint32_t imageBegin = 0, imageEnd = 0;
};

// An Exif JPEG (1600x1200 with a thumbnail and the usual properties), a heap
// file whose root holds a large embedded JPEG before its properties, and a
// TIFF RAW with a 1600x1200 RGB strip. Throws when a builder fails.
std::vector<ParseFixture> ParseFixtures();

// Every output of the widest parse export, the streams included.
struct ParseSinks {
  QdThumbnailInfo thumb{};
  QdImageInfo image{};
  QdAuxImageInfo aux{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{};
  CountingStream comment, properties, dcfThumbnail;
};

uint32_t ParseEverything(const ParseFixture& f, CountingStream* in, ParseSinks* out);

// Empty when what `in` delivered keeps to the fixture's bounds; otherwise
// which bound was broken and by how much.
std::string ReadBoundProblem(const ParseFixture& f, const CountingStream& in);

}  // namespace qdtest
