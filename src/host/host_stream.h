// Pieces shared by the file and memory streams: the position limit, the error
// out-argument, seek resolution, and how release tells the kinds apart.
#pragma once

#include <cstdint>

#include "qdparse_host.h"

namespace qdh {

// Content and positions stay within 32 bits.
constexpr uint64_t kMaxPosition = 0xFFFFFFFFu;

// Stores the outcome in the caller's error variable (if any) and returns it.
inline uint32_t Finish(uint32_t* error, uint32_t code) {
  if (error != nullptr) *error = code;
  return code;
}

inline bool ValidMode(uint32_t mode) {
  return mode == QD_OPEN_READ || mode == QD_OPEN_UPDATE || mode == QD_OPEN_WRITE;
}

// The position a seek asks for, or the error that refuses it. `current` and
// `end` are at most kMaxPosition, so the signed sums below cannot overflow.
uint32_t ResolveSeek(uint32_t origin, int32_t offset, uint64_t current, uint64_t end,
                     uint64_t* target);

// Each kind recognises its own records by their callbacks, so a foreign or
// zeroed record is never taken for one of ours.
bool IsFileStream(const qdlStream* stream);
void ReleaseFileContext(void* context);
bool IsMemoryStream(const qdlStream* stream);
void ReleaseMemoryContext(void* context);

}  // namespace qdh
