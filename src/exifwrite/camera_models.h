// The camera maker and the models whose files differ from the rest: every
// check of a Make or Model text is here.
#pragma once

#include <cstdint>

namespace qd::camera {

// The Make the cameras write (and the Exif writer with it, zero byte included).
constexpr char kMakerName[] = "Vedra";
// The other spelling some firmware writes.
constexpr char kMakerNameUpper[] = "VEDRA";

// Whether `text` is `upper` (capitals, digits and signs) in any letter case.
bool EqualsIgnoringCase(const char* text, const char* upper);

// A Make text naming the maker, in any letter case.
bool IsMaker(const char* make);

// Model families, by the model text.
bool IsArx(const char* model);               // "Vedra ARX..."
bool IsArxK(const char* model);              // the K24 and K48 families
bool IsArxKTiff(const char* model);          // the K models' own TIFF files (no maker prefix)
bool IsLumaframe840(const char* model);      // "Vedra Lumaframe 840..."
bool IsLumaframe520(const char* model);      // "Lumaframe 520..." (no maker prefix)
bool IsLumaframeB7(const char* model);       // exactly the B7
bool SettingFlagExempt(const char* model);   // models without the two-state setting

// Whether property records of `code` belong to the model (codes 13, 14, 15,
// 25, 29 and the default rule).
bool HasRecord(const char* model, uint16_t code);

}  // namespace qd::camera
