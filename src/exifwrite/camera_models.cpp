#include "exifwrite/camera_models.h"

#include <string_view>

namespace qd::camera {
namespace {

// Texts compare by length first, then (for a prefix) by its last character:
// most models differ from a name there, without a library call.
bool Prefix(std::string_view model, std::string_view name) {
  return model.size() >= name.size() && model[name.size() - 1] == name.back() &&
         model.compare(0, name.size(), name) == 0;
}
bool Exact(std::string_view model, std::string_view name) { return model == name; }

template <size_t N>
bool AnyPrefix(std::string_view model, const std::string_view (&names)[N]) {
  for (std::string_view n : names) {
    if (Prefix(model, n)) return true;
  }
  return false;
}

template <size_t N>
bool AnyExact(std::string_view model, const std::string_view (&names)[N]) {
  for (std::string_view n : names) {
    if (Exact(model, n)) return true;
  }
  return false;
}

constexpr std::string_view kArxK[] = {"Vedra ARX K24", "Vedra ARX K48"};
constexpr std::string_view kNo14[] = {
    "Vedra Lumaframe B7", "Vedra Lumaframe B7Wide", "Vedra Lumaframe B70", "Vedra Lumaframe H6",
    "Vedra Lumaframe Max45 XR", "Vedra Lumaframe H8", "Vedra Lumaframe T29", "Vedra Lumaframe T27"};
constexpr std::string_view kNo15[] = {"Vedra Lumaframe 840", "Vedra Lumaframe 840E", "Vedra Lumaframe Max21",
                                      "Vedra Lumaframe B7"};
constexpr std::string_view kWith25[] = {
    "Vedra OMI DIGITAL",    "Vedra Lumaframe T180", "Vedra DIGITAL ZELO",     "Vedra OMI DIGITAL 410",
    "Vedra Lumaframe T190", "Vedra DIGITAL ZELO q", "Vedra OMI DIGITAL 510",  "Vedra Lumaframe T270",
    "Vedra DIGITAL ZELO 510", "Vedra Lumaframe B32", "Vedra Lumaframe B31",   "Vedra Lumaframe B35",
    "Vedra Lumaframe B33"};
constexpr std::string_view kArxKTiff[] = {"ARX K1600Q", "ARX K4800Q"};
constexpr std::string_view kWith29[] = {"Vedra ARX-7Q", "Vedra ARX-7QT"};
constexpr std::string_view kSettingFlagExempt[] = {"Vedra Lumaframe Max45 XR", "Vedra ARX-7Q", "Vedra ARX-7QT"};

}  // namespace

bool EqualsIgnoringCase(const char* text, const char* upper) {
  for (; *upper != '\0'; ++text, ++upper) {
    const char c = *text >= 'a' && *text <= 'z' ? static_cast<char>(*text - 'a' + 'A') : *text;
    if (c != *upper) return false;
  }
  return *text == '\0';
}

bool IsMaker(const char* make) { return EqualsIgnoringCase(make, kMakerNameUpper); }

bool IsArx(const char* model) { return Prefix(model, "Vedra ARX"); }
bool IsArxK(const char* model) { return AnyPrefix(model, kArxK); }
bool IsArxKTiff(const char* model) { return AnyExact(model, kArxKTiff); }
bool IsLumaframe840(const char* model) { return Prefix(model, "Vedra Lumaframe 840"); }
bool IsLumaframe520(const char* model) { return Prefix(model, "Lumaframe 520"); }
bool IsLumaframeB7(const char* model) { return Exact(model, "Vedra Lumaframe B7"); }
bool SettingFlagExempt(const char* model) { return AnyExact(model, kSettingFlagExempt); }

bool HasRecord(const char* model, uint16_t code) {
  switch (code) {
    case 12: return true;
    case 13: return IsArxK(model);
    case 14: return !AnyPrefix(model, kNo14);
    case 15: return !AnyExact(model, kNo15);
    case 25: return AnyExact(model, kWith25);
    case 29: return AnyPrefix(model, kWith29);
    default: return !Prefix(model, "Vedra ARX K24");
  }
}

}  // namespace qd::camera
