// Release functions for every record the library fills with its own blocks.
// Each frees what is non-null and zeroes the whole record, so releasing a
// record twice is harmless; the record pointer itself is the caller's.
#include <cstring>

#include "frame/memory_block.h"
#include "qdparse.h"

namespace {

template <typename Record>
uint32_t Clear(Record* record) {
  if (record != nullptr) std::memset(record, 0, sizeof *record);
  return QD_OK;
}

}  // namespace

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeExifBuffer(TiffBlockInfo* block) {
  if (block != nullptr) (void)qd::BlockFree(block->segment);
  return Clear(block);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeOutPutInfo(OutPutInfo* info) {
  if (info != nullptr) {
    (void)qd::BlockFree(info->iccProfile);
    (void)qd::BlockFree(info->iim);
  }
  return Clear(info);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeApp1Info(ExtensionInfo* info) {
  if (info != nullptr) (void)qd::BlockFree(info->buffer);
  return Clear(info);
}

// A second name of the same entry point.
#if defined(__GNUC__) && !defined(_WIN32)
extern "C" QD_EXPORT uint32_t QD_API qdParseFreeExtensionInfo(ExtensionInfo* info)
    __attribute__((alias("qdParseFreeApp1Info")));
#else
extern "C" QD_EXPORT uint32_t QD_API qdParseFreeExtensionInfo(ExtensionInfo* info) {
  return qdParseFreeApp1Info(info);
}
#endif

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeMakerNoteBuffer(MakerNoteBuffer* buffer) {
  if (buffer != nullptr) (void)qd::BlockFree(buffer->data);
  return Clear(buffer);
}
