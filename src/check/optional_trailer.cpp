// Whether a file ends with the trailer that marks optional maker data
// appended after the image. Only the trailer's opening is compared; what
// follows it is the maker's.
#include <cstring>

#include "frame/buffered_reader.h"
#include "frame/export_call.h"
#include "format/jpeg_format.h"

namespace qd::check {
namespace {

using jpeg::kOptionalTrailerSignature;
using jpeg::kOptionalTrailerSize;

Status ReadTrailer(const StreamPort& port, uint16_t* present) {
  ScopedReader reader;
  Status st = reader.Open(port, kOptionalTrailerSize);
  if (st != ST_OK) return st;
  const uint32_t size = ReaderSize(reader);
  uint8_t trailer[kOptionalTrailerSize];
  if (size < kOptionalTrailerSize) {
    *present = 0;  // too short to hold one
    return ST_OK;
  }
  st = ReaderSeek(&reader, size - kOptionalTrailerSize, kReaderAbsolute);
  if (st == ST_OK) st = ReaderRead(&reader, kOptionalTrailerSize, trailer);
  if (st != ST_OK) return st;
  *present = std::memcmp(trailer, kOptionalTrailerSignature, sizeof kOptionalTrailerSignature) == 0;
  return ST_OK;
}

}  // namespace
}  // namespace qd::check

extern "C" QD_EXPORT uint32_t QD_API QDParseHasVedraOptionalData(const qdlStream* stream, uint16_t* present) {
  using namespace qd;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsOpenClose, present != nullptr}, {},
                         [&](StreamPort& port) { return check::ReadTrailer(port, present); });
}
