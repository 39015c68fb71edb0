// Every public record and every field of it, listed once and expanded by the
// C view (abi_view.c) and by the test, a strict C++ view. Fields are listed in
// order, each with its documented offset on a 32-bit target and whether it is
// pointer-sized.
#ifndef QDPARSE_TESTS_ABI_LAYOUT_H
#define QDPARSE_TESTS_ABI_LAYOUT_H

#include <stddef.h>

#include "qdparse.h"

// R(record, documented size)
#define QD_ABI_RECORDS(R) \
    R(qdlStream, 36) R(HeapObject, 27) R(RecordEntry, 12) R(IfdQuery, 20) R(TiffBlockInfo, 21) \
    R(JpegSofInfo, 16) R(JfifInfo, 20) R(OutPutInfo, 16) R(ExtensionInfo, 8) \
    R(TiffImageInfo, 12) R(JpegImageInfo, 8) R(QdImageInfo, 78) R(ExifImageInfo, 48) \
    R(QdThumbnailInfo, 48) R(QdAuxImageInfo, 54) R(ExifCaptureInfo, 72) R(ExifShotValues, 19) \
    R(PropertyRecord, 6) R(IimRecord, 6) R(MakerNoteBuffer, 13) R(MakerNoteLocation, 9) \
    R(HeapObjectSupplement, 20) R(QdWaveInfo, 14) R(QdSoundProperties, 19)

// The 48-byte image description shared by four records.
#define QD_ABI_IMAGE48(F, rec, validField) \
    F(rec, model, 0, 0) F(rec, validField, 32, 0) F(rec, bitsPerSample, 33, 0) \
    F(rec, bitsPerPixel, 34, 0) F(rec, colour, 35, 0) F(rec, width, 36, 0) F(rec, height, 38, 0) \
    F(rec, aspect, 40, 0) F(rec, xResolution, 44, 0) F(rec, yResolution, 46, 0)

// F(record, field, documented offset, pointer-sized)
#define QD_ABI_FIELDS(F) \
    F(qdlStream, context, 0, 1) F(qdlStream, reserved, 4, 1) F(qdlStream, open, 8, 1) \
    F(qdlStream, close, 12, 1) F(qdlStream, read, 16, 1) F(qdlStream, write, 20, 1) \
    F(qdlStream, seek, 24, 1) F(qdlStream, tell, 28, 1) F(qdlStream, aux, 32, 1) \
    F(HeapObject, block, 0, 1) F(HeapObject, headerLength, 4, 0) F(HeapObject, version, 8, 0) \
    F(HeapObject, type, 12, 0) F(HeapObject, heap, 17, 1) F(HeapObject, heapLength, 21, 0) \
    F(HeapObject, bigEndian, 25, 0) F(RecordEntry, type, 0, 0) F(RecordEntry, found, 2, 0) \
    F(RecordEntry, pointer, 4, 1) F(RecordEntry, size, 8, 0) F(IfdQuery, op, 0, 0) \
    F(IfdQuery, tag, 2, 0) F(IfdQuery, type, 4, 0) F(IfdQuery, found, 6, 0) \
    F(IfdQuery, data, 8, 1) F(IfdQuery, size, 12, 0) F(IfdQuery, position, 16, 0) \
    F(TiffBlockInfo, segment, 0, 1) F(TiffBlockInfo, segmentOffset, 4, 1) \
    F(TiffBlockInfo, tiff, 8, 1) F(TiffBlockInfo, tiffSize, 12, 0) \
    F(TiffBlockInfo, byteOrder, 16, 0) F(TiffBlockInfo, ifdOffset, 17, 0) \
    F(JpegSofInfo, found, 0, 0) F(JpegSofInfo, reserved1, 1, 0) F(JpegSofInfo, position, 4, 0) \
    F(JpegSofInfo, length, 8, 0) F(JpegSofInfo, components, 10, 0) F(JpegSofInfo, width, 12, 0) \
    F(JpegSofInfo, height, 14, 0) F(JfifInfo, found, 0, 0) F(JfifInfo, reserved1, 1, 0) \
    F(JfifInfo, position, 4, 0) F(JfifInfo, length, 8, 0) F(JfifInfo, version, 10, 0) \
    F(JfifInfo, units, 12, 0) F(JfifInfo, xDensity, 14, 0) F(JfifInfo, yDensity, 16, 0) \
    F(JfifInfo, reserved2, 18, 0) F(OutPutInfo, iccProfile, 0, 1) \
    F(OutPutInfo, iccProfileSize, 4, 0) F(OutPutInfo, iim, 8, 1) F(OutPutInfo, iimSize, 12, 0) \
    F(ExtensionInfo, buffer, 0, 1) F(ExtensionInfo, size, 4, 0) F(TiffImageInfo, colour, 0, 0) \
    F(TiffImageInfo, rgb, 4, 0) F(TiffImageInfo, width, 8, 0) F(TiffImageInfo, height, 10, 0) \
    F(JpegImageInfo, width, 0, 0) F(JpegImageInfo, height, 2, 0) \
    F(JpegImageInfo, components, 4, 0) F(JpegImageInfo, sampling, 6, 0) \
    QD_ABI_IMAGE48(F, QdImageInfo, format) F(QdImageInfo, compressedBitsPerPixel, 0x30, 0) \
    F(QdImageInfo, dataCode, 0x34, 0) F(QdImageInfo, fullWidth, 0x35, 0) \
    F(QdImageInfo, fullHeight, 0x37, 0) F(QdImageInfo, fullAspect, 0x39, 0) \
    F(QdImageInfo, fullXResolution, 0x3D, 0) F(QdImageInfo, fullYResolution, 0x3F, 0) \
    F(QdImageInfo, pathValues, 0x41, 0) F(QdImageInfo, flags, 0x4D, 0) \
    QD_ABI_IMAGE48(F, ExifImageInfo, valid) QD_ABI_IMAGE48(F, QdThumbnailInfo, format) \
    QD_ABI_IMAGE48(F, QdAuxImageInfo, format) F(QdAuxImageInfo, extra, 48, 0) \
    F(ExifCaptureInfo, time, 0, 0) F(ExifCaptureInfo, fileNumber, 4, 0) \
    F(ExifCaptureInfo, owner, 8, 0) F(ExifCaptureInfo, imageType, 40, 0) \
    F(ExifShotValues, aperture, 0, 0) F(ExifShotValues, shutterSpeed, 4, 0) \
    F(ExifShotValues, exposureCompensation, 8, 0) F(ExifShotValues, additionalEv, 12, 0) \
    F(ExifShotValues, settingWord, 16, 0) F(ExifShotValues, settingFlag, 18, 0) \
    F(PropertyRecord, code, 0, 0) F(PropertyRecord, size, 2, 0) F(IimRecord, record, 0, 0) \
    F(IimRecord, dataset, 1, 0) F(IimRecord, length, 2, 0) F(MakerNoteBuffer, data, 0, 1) \
    F(MakerNoteBuffer, size, 4, 0) F(MakerNoteBuffer, offset, 8, 0) \
    F(MakerNoteBuffer, byteOrder, 12, 0) F(MakerNoteLocation, length, 0, 0) \
    F(MakerNoteLocation, byteOrder, 4, 0) F(MakerNoteLocation, offset, 5, 0) \
    F(HeapObjectSupplement, word0, 0, 0) F(HeapObjectSupplement, format, 4, 0) \
    F(HeapObjectSupplement, bitsPerSample, 5, 0) F(HeapObjectSupplement, bitsPerPixel, 6, 0) \
    F(HeapObjectSupplement, colour, 7, 0) F(HeapObjectSupplement, width, 8, 0) \
    F(HeapObjectSupplement, height, 10, 0) F(HeapObjectSupplement, aspect, 12, 0) \
    F(HeapObjectSupplement, xResolution, 16, 0) F(HeapObjectSupplement, yResolution, 18, 0) \
    F(QdWaveInfo, formatTag, 0, 0) F(QdWaveInfo, channels, 2, 0) F(QdWaveInfo, sampleRate, 4, 0) \
    F(QdWaveInfo, bytesPerSecond, 8, 0) F(QdWaveInfo, bitsPerSample, 12, 0) \
    F(QdSoundProperties, value, 0, 0) F(QdSoundProperties, fileNumber, 4, 0) \
    F(QdSoundProperties, duration, 8, 0) F(QdSoundProperties, sampleRate, 12, 0) \
    F(QdSoundProperties, fixed, 16, 0) F(QdSoundProperties, bitsPerSample, 18, 0)

// As compiled: each record's size, then each field's offset and size.
#define QD_ABI_SIZE(rec, docSize) sizeof(rec),
#define QD_ABI_PLACE(rec, field, docOffset, isPointer) \
    offsetof(rec, field), sizeof(((rec *)0)->field),

#ifdef __cplusplus
extern "C" {
#endif
extern const size_t qd_abi_c_layout[];
extern const size_t qd_abi_c_layout_count;
#ifdef __cplusplus
}
#endif

#endif  // QDPARSE_TESTS_ABI_LAYOUT_H
