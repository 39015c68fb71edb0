// Text and JSON output shared by the commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

namespace qdtool {

using Json = nlohmann::ordered_json;

// A fixed-size text field up to its NUL, with bytes outside printable ASCII
// written as \xNN.
std::string Printable(const char* text, size_t capacity);
// The same for the JSON output: the raw bytes, which the printer makes valid UTF-8.
std::string Raw(const char* text, size_t capacity);

// The library's records are packed, so their fields may be misaligned: read
// them by value and never bind a reference to one (JSON constructors take
// references). Arrays in them are copied out byte-wise.
template <typename T>
T Copy(T value) {
  return value;
}
template <typename T, size_t N>
std::array<T, N> CopyArray(const void* packed) {
  std::array<T, N> out;
  std::memcpy(out.data(), packed, sizeof out);
  return out;
}

// A float as the nearest short decimal (0.9661016 rather than 0.96610164642...).
double Short(float value);
// "%.*f".
std::string Fixed(double value, int decimals);
std::string Hex(const uint8_t* bytes, size_t n);

// "  label         value\n" at an indent of `depth` steps.
void Row(std::string& out, int depth, const std::string& label, const std::string& value);

// One JSON object on one line; invalid UTF-8 is replaced, never fatal.
void PrintJson(const Json& j);

}  // namespace qdtool
