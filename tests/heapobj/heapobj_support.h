// Shared pieces of the heap-object tests: the builders, entry lists and
// reading a heap object back.
#pragma once

#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "qdparse.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qdtest {

inline RecordEntry Entry(uint16_t type, const void* data = nullptr, uint32_t size = 0,
                         uint16_t found = 1) {
  return RecordEntry{type, found, const_cast<void*>(data), size};
}

// What the walk copies out for `path` (nested heap types, then the record),
// in host order; nullopt when absent.
inline std::optional<Bytes> Read(const HeapObject& h, const std::vector<uint16_t>& path) {
  Bytes out(512);
  std::vector<RecordEntry> list;
  for (size_t i = 0; i + 1 < path.size(); ++i) list.push_back(Entry(path[i], nullptr, 0, 0));
  list.push_back(Entry(path.back(), out.data(), static_cast<uint32_t>(out.size()), 0));
  list.insert(list.end(), path.size(), RecordEntry{});
  RecordEntry* cursor = list.data();
  EXPECT_EQ(qdParseHeapObject(h, &cursor), QD_OK);
  const RecordEntry& e = list[path.size() - 1];
  if (e.found == 0) return std::nullopt;
  out.resize(e.size);
  return out;
}

}  // namespace qdtest
