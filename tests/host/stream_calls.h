// Callback calls for the host stream tests. Each starts from an error variable
// that is not cleared, as the library passes it, so a callback that forgets to
// store 0 on success fails the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "qdparse_host.h"

namespace host_test {

constexpr uint32_t kUncleared = 0xA5A5A5A5u;

// Released on every path, so the leak checker sees what release misses.
struct OwnedStream {
  qdlStream s{};
  ~OwnedStream() { qdhStreamRelease(&s); }
};

inline uint32_t Open(const qdlStream& s, uint32_t mode) {
  uint32_t error = kUncleared;
  EXPECT_EQ(s.open(s.context, mode, &error), error);
  return error;
}

inline uint32_t Close(const qdlStream& s) {
  uint32_t error = kUncleared;
  EXPECT_EQ(s.close(s.context, &error), error);
  return error;
}

inline uint32_t Seek(const qdlStream& s, uint32_t origin, int32_t offset) {
  uint32_t error = kUncleared;
  EXPECT_EQ(s.seek(s.context, origin, offset, &error), error);
  return error;
}

// The position, or kUncleared when tell failed.
inline uint32_t Tell(const qdlStream& s) {
  uint32_t error = kUncleared;
  const uint32_t position = s.tell(s.context, &error);
  return error == 0 ? position : kUncleared;
}

// One read of `asked` bytes; *got receives what was delivered.
inline uint32_t Read(const qdlStream& s, uint32_t asked, std::string* got) {
  got->assign(asked, '\0');
  uint32_t count = asked;
  uint32_t error = kUncleared;
  EXPECT_EQ(s.read(s.context, got->data(), &count, &error), error);
  EXPECT_LE(count, asked);
  got->resize(count <= asked ? count : asked);
  return error;
}

// One write of `data`; *taken receives the count taken.
inline uint32_t Write(const qdlStream& s, std::string_view data, uint32_t* taken = nullptr) {
  uint32_t count = static_cast<uint32_t>(data.size());
  uint32_t error = kUncleared;
  EXPECT_EQ(s.write(s.context, data.data(), &count, &error), error);
  if (taken != nullptr) *taken = count;
  return error;
}

// Everything from the start, in small reads.
inline std::string ReadAll(const qdlStream& s) {
  std::string all, got;
  EXPECT_EQ(0u, Seek(s, QD_SEEK_START, 0));
  while (Read(s, 7, &got) == 0 && !got.empty()) all += got;
  return all;
}

}  // namespace host_test
