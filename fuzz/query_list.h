// An IFD query list for the fuzz targets, built from a fixed shape: each read
// gets a buffer of its own, or (size 0) a slot for the block the walker
// allocates. The destructor releases those blocks and aborts on a bad one.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "frame/memory_block.h"
#include "qdparse.h"

struct QueryShape {
  uint16_t op, tag, type;
  uint32_t size;  // 0: allocate
};

template <size_t N>
class QueryList {
 public:
  explicit QueryList(const QueryShape (&shape)[N]) {
    for (size_t i = 0; i < N; ++i) {
      list_[i].op = shape[i].op;
      list_[i].tag = shape[i].tag;
      list_[i].type = shape[i].type;
      list_[i].size = shape[i].size;
      list_[i].data = shape[i].size != 0 ? reinterpret_cast<uintptr_t>(buffers_[i])
                                         : reinterpret_cast<uintptr_t>(&allocated_[i]);
    }
  }
  QueryList(const QueryList&) = delete;
  QueryList& operator=(const QueryList&) = delete;
  ~QueryList() {
    for (void* p : allocated_) {
      if (p != nullptr && qd::BlockFree(p) != qd::ST_OK) std::abort();
    }
  }

  IfdQuery* list() { return list_; }
  const IfdQuery& operator[](size_t i) const { return list_[i]; }

 private:
  IfdQuery list_[N] = {};
  uint8_t buffers_[N][64] = {};
  void* allocated_[N] = {};
};
