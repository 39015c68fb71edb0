// Release functions for every record the library fills with its own blocks.
// Each frees what is non-null and zeroes the whole record, so releasing a
// record twice is harmless; the record pointer itself is the caller's.
#include "frame/memory_block.h"
#include "qdparse.h"
#include "tiffjpeg/jpeg_segments.h"
#include "tiffjpeg/jpeg_stream.h"

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeExifBuffer(TiffBlockInfo* block) {
  if (block != nullptr) qd::jpeg::ReleaseExifBlock(block);
  return QD_OK;
}

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeOutPutInfo(OutPutInfo* info) {
  if (info != nullptr) qd::jpeg::ReleaseOutPutInfo(info);
  return QD_OK;
}

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeApp1Info(ExtensionInfo* info) {
  if (info != nullptr) qd::jpeg::ReleaseExtensionInfo(info);
  return QD_OK;
}

// A second name of the same entry point.
#if defined(__GNUC__) && !defined(_WIN32)
extern "C" QD_EXPORT uint32_t QD_API qdParseFreeExtensionInfo(ExtensionInfo* info)
    __attribute__((alias("qdParseFreeApp1Info")));
#else
extern "C" QD_EXPORT uint32_t QD_API qdParseFreeExtensionInfo(ExtensionInfo* info) {
  if (info != nullptr) qd::jpeg::ReleaseExtensionInfo(info);
  return QD_OK;
}
#endif

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeMakerNoteBuffer(MakerNoteBuffer* buffer) {
  if (buffer != nullptr) {
    (void)qd::BlockFree(buffer->data);
    *buffer = MakerNoteBuffer{};
  }
  return QD_OK;
}
