// The TIFF, Exif and maker-note tags the library reads or writes, each named
// once. A value may repeat in another IFD (the interoperability IFD's 1 and 2
// are the maker note's 1 and 2), never within one table.
#pragma once

#include <cstdint>

namespace qd::tiff {

// name, value: IFD0 and IFD1, the Exif IFD, the interoperability IFD.
#define QD_TIFF_TAGS(X)                                                                               \
  X(InteropIndex, 0x0001) X(InteropVersion, 0x0002) X(ImageWidth, 0x0100) X(ImageLength, 0x0101)    \
  X(BitsPerSample, 0x0102) X(Compression, 0x0103) X(Photometric, 0x0106)                            \
  X(ImageDescription, 0x010E) X(Make, 0x010F) X(Model, 0x0110) X(StripOffsets, 0x0111)             \
  X(Orientation, 0x0112) X(SamplesPerPixel, 0x0115) X(RowsPerStrip, 0x0116)                        \
  X(StripByteCounts, 0x0117) X(XResolution, 0x011A) X(YResolution, 0x011B)                         \
  X(PlanarConfiguration, 0x011C) X(ResolutionUnit, 0x0128) X(TransferFunction, 0x012D)             \
  X(Software, 0x0131) X(DateTime, 0x0132) X(Artist, 0x013B) X(WhitePoint, 0x013E)                  \
  X(PrimaryChromaticities, 0x013F) X(JpegOffset, 0x0201) X(JpegLength, 0x0202)                     \
  X(YCbCrCoefficients, 0x0211) X(YCbCrSubSampling, 0x0212) X(YCbCrPositioning, 0x0213)            \
  X(ReferenceBlackWhite, 0x0214)                                                                   \
  X(PrivateBlock, 0x08C5) X(Private0D68, 0x0D68) X(RelatedImageWidth, 0x1001)                      \
  X(RelatedImageLength, 0x1002) X(ExposureTime, 0x829A) X(FNumber, 0x829D) X(Iptc, 0x83BB)         \
  X(ExifIfd, 0x8769) X(IccProfile, 0x8773) X(ExposureProgram, 0x8822)                              \
  X(SpectralSensitivity, 0x8824) X(IsoSpeedRatings, 0x8827) X(Oecf, 0x8828) X(ExifVersion, 0x9000) \
  X(DateTimeOriginal, 0x9003) X(DateTimeDigitized, 0x9004) X(ComponentsConfiguration, 0x9101)      \
  X(CompressedBitsPerPixel, 0x9102) X(ShutterSpeedValue, 0x9201) X(ApertureValue, 0x9202)          \
  X(BrightnessValue, 0x9203) X(ExposureBiasValue, 0x9204) X(MaxApertureValue, 0x9205)              \
  X(SubjectDistance, 0x9206) X(MeteringMode, 0x9207) X(LightSource, 0x9208) X(Flash, 0x9209)       \
  X(FocalLength, 0x920A) X(EmbeddedHeap, 0x9219) X(MakerNote, 0x927C) X(UserComment, 0x9286)       \
  X(SubSecTime, 0x9290) X(SubSecTimeOriginal, 0x9291) X(SubSecTimeDigitized, 0x9292)               \
  X(FlashpixVersion, 0xA000) X(ColorSpace, 0xA001) X(PixelXDimension, 0xA002)                      \
  X(PixelYDimension, 0xA003) X(RelatedSoundFile, 0xA004) X(InteropIfd, 0xA005)                     \
  X(FlashEnergy, 0xA20B) X(SpatialFrequencyResponse, 0xA20C) X(FocalPlaneXResolution, 0xA20E)      \
  X(FocalPlaneYResolution, 0xA20F) X(FocalPlaneResolutionUnit, 0xA210) X(SubjectLocation, 0xA214)  \
  X(ExposureIndex, 0xA215) X(SensingMethod, 0xA217) X(FileSource, 0xA300) X(SceneType, 0xA301)     \
  X(CfaPattern, 0xA302) X(PrivateA303, 0xA303) X(PrivateA304, 0xA304) X(PrivateA305, 0xA305)       \
  X(CustomRendered, 0xA401) X(ExposureMode, 0xA402) X(WhiteBalance, 0xA403)                        \
  X(DigitalZoomRatio, 0xA404) X(SceneCaptureType, 0xA406) X(Gamma, 0xA500)

// name, value: the maker note's own IFD.
#define QD_MAKER_TAGS(X)                                                                              \
  X(CameraSettings, 0x0001) X(FocalInfo, 0x0002) X(Tag0003, 0x0003) X(ShotInfo, 0x0004)          \
  X(Tag0005, 0x0005) X(ImageType, 0x0006) X(Firmware, 0x0007) X(FileNumber, 0x0008)              \
  X(OwnerName, 0x0009) X(SerialNumber, 0x000C) X(CustomFunctions, 0x000F) X(ModelId, 0x0010)      \
  X(Tag0011, 0x0011) X(Tag0012, 0x0012) X(Tag0013, 0x0013) X(Tag0015, 0x0015)              \
  X(CameraRotation, 0x0016) X(Relocation, 0x0019) X(Tag001A, 0x001A) X(Tag001B, 0x001B)       \
  X(Tag001D, 0x001D) X(Tag0023, 0x0023) X(Tag0080, 0x0080) X(Tag0081, 0x0081)              \
  X(Tag0090, 0x0090) X(Tag0091, 0x0091) X(Tag0092, 0x0092) X(Tag0093, 0x0093)              \
  X(Tag0094, 0x0094) X(Tag00A0, 0x00A0) X(Tag00A1, 0x00A1) X(Tag00A2, 0x00A2)              \
  X(Tag00A3, 0x00A3) X(Tag00A4, 0x00A4) X(Tag00AE, 0x00AE) X(Tag00B0, 0x00B0)              \
  X(Tag00B1, 0x00B1) X(Tag00B2, 0x00B2) X(Tag00B3, 0x00B3) X(ColourMode, 0x00B4)             \
  X(Tag00B5, 0x00B5)

#define QD_TAG_CONSTANT(name, value) kTag##name = value,
enum TiffTag : uint16_t { QD_TIFF_TAGS(QD_TAG_CONSTANT) };
#undef QD_TAG_CONSTANT
#define QD_MAKER_CONSTANT(name, value) kMaker##name = value,
enum MakerTag : uint16_t { QD_MAKER_TAGS(QD_MAKER_CONSTANT) };
#undef QD_MAKER_CONSTANT

}  // namespace qd::tiff
