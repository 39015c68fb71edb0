// JPEG markers and the application-segment signatures the library reads.
#pragma once

#include <cstdint>

namespace qd::jpeg {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStuffed = 0x00;
constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOF0 = 0xC0;
constexpr uint8_t kAPP0 = 0xE0;
constexpr uint8_t kAPP1 = 0xE1;
constexpr uint8_t kAPP2 = 0xE2;
constexpr uint8_t kAPP13 = 0xED;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kDQT = 0xDB;
constexpr uint8_t kDHT = 0xC4;
constexpr uint8_t kDRI = 0xDD;
constexpr uint8_t kAPP15 = 0xEF;
constexpr uint8_t kCOM = 0xFE;

// Frame headers; DHT (0xC4), DAC (0xCC) and the others of the range are not.
inline bool IsFrameHeader(uint8_t m) {
  return m == 0xC0 || m == 0xC1 || m == 0xC2 || m == 0xC3 || m == 0xC9 || m == 0xCA || m == 0xCB;
}

// A segment's length field counts itself.
constexpr uint16_t kLengthSize = 2;

// "Exif", its NUL and a pad byte open an Exif APP1 payload; the TIFF header follows.
constexpr uint8_t kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};

// The trailer some cameras append after the image to mark optional maker
// data: the last 64 bytes of the file, of which only this opening is fixed.
constexpr uint32_t kOptionalTrailerSize = 64;
constexpr uint8_t kOptionalTrailerSignature[21] = {'V', 'E', 'D', 'R', 'A', ' ', 'O', 'P', 'T', 'I', 'O',
                                                   'N', 'A', 'L', ' ', 'D', 'A', 'T', 'A', 0,   0};

constexpr char kJfif[] = "JFIF";  // and its zero byte: 5 bytes
constexpr uint32_t kJfifPayload = 12;
constexpr uint32_t kSofPayload = 6;  // precision, lines, samples per line, components

// "ICC_PROFILE\0" then chunk 1 of 1.
constexpr uint8_t kIccSignature[14] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
// "Photoshop 3.0\0", an "8BIM" IPTC-NAA resource (0x0404), an empty name and
// the upper half of its 32-bit size; the lower half follows.
constexpr uint8_t kIimSignature[24] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.',
                                       '0', 0,   '8', 'B', 'I', 'M', 4,   4,   0,   0,   0,   0};

}  // namespace qd::jpeg
