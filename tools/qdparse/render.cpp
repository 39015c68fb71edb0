#include "render.h"

#include <cstdio>
#include <cstdlib>

namespace qdtool {

namespace {
size_t Length(const char* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != '\0') ++n;
  return n;
}
}  // namespace

std::string Printable(const char* text, size_t capacity) {
  std::string out;
  const size_t n = Length(text, capacity);
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    }
  }
  return out;
}

std::string Raw(const char* text, size_t capacity) { return std::string(text, Length(text, capacity)); }

double Short(float value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(value));
  return std::strtod(buf, nullptr);
}

std::string Fixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
  }
  return out;
}

void Row(std::string& out, int depth, const std::string& label, const std::string& value) {
  std::string line(static_cast<size_t>(2 * depth), ' ');
  line += label;
  if (!value.empty()) {
    const size_t column = 20;
    line += line.size() < column ? std::string(column - line.size(), ' ') : std::string(" ");
    line += value;
  }
  out += line + "\n";
}

void PrintJson(const Json& j) {
  std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

}  // namespace qdtool
