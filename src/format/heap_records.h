// The heap record types the library reads or builds, each named once. Types
// the cameras write without a known meaning keep their number in the name.
#pragma once

#include <cstdint>

namespace qd::heap {

// name, type
#define QD_HEAP_RECORD_TYPES(X)                                                                          \
  X(MakerNoteValue003F, 0x003F) X(MakerNoteValue0085, 0x0085) X(Comment, 0x0805)                      \
  X(MakerModel, 0x080A) /* maker and model, two texts */ X(Firmware, 0x080B) X(OwnerName, 0x0810)     \
  X(ImageTypeText, 0x0815) X(Record100A, 0x100A) X(Record1010, 0x1010) X(Record1014, 0x1014)         \
  X(Record1026, 0x1026) X(Record1027, 0x1027) X(Record1028, 0x1028) X(FocalInfo, 0x1029)             \
  X(ShotInfo, 0x102A) X(CameraSettings, 0x102D) X(CustomFunctions, 0x1033) X(Record1038, 0x1038)      \
  X(Record1039, 0x1039) X(MakerNoteValue1081, 0x1081) X(MakerNoteValue1082, 0x1082)                  \
  X(MakerNoteValue1083, 0x1083) X(MakerNoteValue1084, 0x1084) X(MakerNoteValue1086, 0x1086)          \
  X(MakerNoteValue1087, 0x1087) X(MakerNoteValue1088, 0x1088) X(MakerNoteValue1089, 0x1089)          \
  X(MakerNoteValue108A, 0x108A) X(MakerNoteValue108B, 0x108B) X(MakerNoteValue108C, 0x108C)          \
  X(MakerNoteValue108D, 0x108D) X(MakerNoteValue108E, 0x108E) X(MakerNoteValue10AE, 0x10AE)          \
  X(ColourMode, 0x10B4) X(MakerNoteValue10B5, 0x10B5) X(ImageClass, 0x1803) X(Record1804, 0x1804)    \
  X(Record1805, 0x1805) X(Record1807, 0x1807) X(Record180B, 0x180B) X(CaptureTime, 0x180E)           \
  X(ImageDescription, 0x1810) X(Record1812, 0x1812) X(Record1813, 0x1813) X(FileNumber, 0x1817)     \
  X(Record1818, 0x1818) X(ModelId, 0x1834) X(Record183B, 0x183B) X(ThumbnailDescription, 0x183D)    \
  X(CameraRotation, 0x183E) X(MakerNoteValue1881, 0x1881) X(MakerNoteValue1882, 0x1882)             \
  X(JpegImage1, 0x2007) X(JpegImage2, 0x2008) X(TextHeap, 0x2804) X(OwnerHeap, 0x2807)                \
  X(CaptureHeap, 0x3002) X(FirmwareHeap, 0x3004) X(ImageProperties, 0x300A) X(MakerHeap, 0x300B)

#define QD_HEAP_TYPE_CONSTANT(name, type) kType##name = type,
enum RecordType : uint16_t { QD_HEAP_RECORD_TYPES(QD_HEAP_TYPE_CONSTANT) };
#undef QD_HEAP_TYPE_CONSTANT

}  // namespace qd::heap
