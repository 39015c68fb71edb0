// Reading and replacing the IIM datasets of a JPEG or TIFF file in place.
#include "frame/export_call.h"
#include "iim/destination.h"
#include "iim/iim_datasets.h"
#include "iim/iim_locate.h"

namespace qd::iim {
namespace {

// The first dataset's position and the stream's size; `lastAllowed` is the
// largest position taken, relative to the size.
uint32_t Start(const StreamPort& port, int64_t lastAllowed, uint32_t* start, uint32_t* size) {
  IimLocation where;
  const uint32_t located = LocateIim(port, &where);
  if (located != QD_OK) return located;
  uint32_t error = 0;
  *size = StreamSize(port.host, &error);
  if (error != 0) return error;
  if (static_cast<int64_t>(where.position) > int64_t{*size} + lastAllowed) return QD_E_CORRUPT;
  *start = static_cast<uint32_t>(where.position);
  return QD_OK;
}

}  // namespace
}  // namespace qd::iim

extern "C" QD_EXPORT uint32_t QD_API QDParseGetIIMInfo(const qdlStream* source, const qdlStream* destination) {
  using namespace qd;
  iim::Destination out(destination);
  const uint32_t result =
      RunStreamExport({source, QD_OPEN_READ, kNeedsReading, out.Usable()}, {}, [&](StreamPort& port) {
        uint32_t start = 0, size = 0;
        uint32_t r = out.Open();
        if (r == QD_OK) r = iim::Start(port, 0, &start, &size);
        if (r == QD_OK) r = iim::ExtractDatasets(source, start, size, destination);
        return WorkResult{ST_OK, r};
      });
  return out.Close(result);
}

extern "C" QD_EXPORT uint32_t QD_API QDParseReplaceIIMInfo(const qdlStream* stream, IimRecord** records) {
  using namespace qd;
  return RunStreamExport({stream, QD_OPEN_UPDATE, kNeedsWrite, records != nullptr}, {}, [&](StreamPort& port) {
    uint32_t start = 0, size = 0;
    uint32_t r = iim::Start(port, -1, &start, &size);
    if (r == QD_OK) r = iim::ReplaceDatasets(stream, start, size, records);
    return WorkResult{ST_OK, r};
  });
}
