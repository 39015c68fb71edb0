// The run of IIM datasets in a file, walked once for extraction and for
// replacement, through the host stream itself: host errors come back as the
// host's own values.
#pragma once

#include <cstdint>

#include "qdparse.h"

namespace qd::iim {

struct Dataset {
  uint8_t record, dataset;
  bool extended;
  uint32_t dataAt, length;  // file position and length of the data
};

class DatasetWalk {
 public:
  enum Step { kDataset, kEnd, kHeadUnread, kFailed };

  DatasetWalk(const qdlStream* stream, uint64_t start, uint32_t size)
      : stream_(stream), next_(start), size_(size) {}

  // kDataset with the stream at the dataset's data, which lies inside the
  // stream; kEnd where the run ends (fewer than a head's bytes left, or no
  // tag marker); kHeadUnread when a head could not be read and kFailed for
  // any other failure, both with result(). Each dataset moves the walk on by
  // at least its head.
  Step Next(Dataset* d);
  uint32_t result() const { return result_; }

 private:
  Step Fail(uint32_t result) {
    result_ = result;
    return kFailed;
  }

  const qdlStream* stream_;
  uint64_t next_;
  uint32_t size_;
  uint32_t result_ = 0;
};

// Writes an IimRecord for each chosen standard dataset, in file order.
uint32_t ExtractDatasets(const qdlStream* source, uint32_t start, uint32_t size,
                         const qdlStream* destination);

// Overwrites the data of the first dataset each record names, first the
// version datasets, then `records` in list order; stored lengths never change.
uint32_t ReplaceDatasets(const qdlStream* stream, uint32_t start, uint32_t size,
                         IimRecord* const* records);

}  // namespace qd::iim
