#include "frame/memory_block.h"

#include <cstdlib>
#include <cstring>

#include "frame/fault.h"

namespace qd {
namespace {

constexpr uint16_t kMarker = 1;
constexpr size_t kLengthAt = 2;
constexpr size_t kSelfAt = 6;

#ifdef QDPARSE_FAULT_INJECTION
thread_local uint64_t armedAt = 0;
thread_local bool fired = false;
thread_local int64_t live = 0;

bool InjectFailure() {
  if (armedAt == 0) return false;
  if (--armedAt != 0) return false;
  fired = true;
  return true;
}
#endif

uint8_t* Allocate(uint32_t n, bool zeroed) {
#ifdef QDPARSE_FAULT_INJECTION
  if (InjectFailure()) return nullptr;
#endif
  const size_t total = size_t{n} + kBlockPrefix;
  if (total < n) return nullptr;  // only possible where size_t is 32 bits
  auto* raw = static_cast<uint8_t*>(zeroed ? std::calloc(total, 1) : std::malloc(total));
  if (raw == nullptr) return nullptr;
  uint8_t* p = raw + kBlockPrefix;
#ifdef QDPARSE_FAULT_INJECTION
  // Code that relies on fresh memory being zero fails in tests.
  if (!zeroed) std::memset(p, 0xA5, n);
  ++live;
#endif
  std::memcpy(raw, &kMarker, sizeof kMarker);
  std::memcpy(raw + kLengthAt, &n, sizeof n);
  std::memcpy(raw + kSelfAt, &p, sizeof p);
  return p;
}

bool OwnsItself(const uint8_t* p) {
  const uint8_t* self = nullptr;
  std::memcpy(&self, p - kBlockPrefix + kSelfAt, sizeof self);
  return self == p;
}

}  // namespace

uint8_t* BlockAlloc(uint32_t n) { return Allocate(n, false); }

uint8_t* BlockAllocZeroed(uint32_t n) { return Allocate(n, true); }

Status BlockFree(void* p) {
  if (p == nullptr) return ST_OK;
  auto* data = static_cast<uint8_t*>(p);
  if (!OwnsItself(data)) return ST_STREAM_FAILED;
  uint16_t marker = 0;
  std::memcpy(&marker, data - kBlockPrefix, sizeof marker);
  if (marker != kMarker) return ST_OK;
  std::free(data - kBlockPrefix);
#ifdef QDPARSE_FAULT_INJECTION
  --live;
#endif
  return ST_OK;
}

uint32_t BlockLength(const void* p) {
  if (p == nullptr) return 0;
  const auto* data = static_cast<const uint8_t*>(p);
  if (!OwnsItself(data)) return 0;
  uint32_t n = 0;
  std::memcpy(&n, data - kBlockPrefix + kLengthAt, sizeof n);
  return n;
}

ValueRoom::~ValueRoom() {
  while (extensions_ != nullptr) {
    uint8_t* before = nullptr;
    std::memcpy(&before, extensions_, sizeof before);
    (void)BlockFree(extensions_);
    extensions_ = before;
  }
}

uint8_t* ValueRoom::Extend(uint32_t n) {
  if (n > UINT32_MAX - sizeof(uint8_t*)) return nullptr;
  uint8_t* block = BlockAlloc(static_cast<uint32_t>(n + sizeof(uint8_t*)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &extensions_, sizeof extensions_);
  extensions_ = block;
  return block + sizeof(uint8_t*);
}

#ifdef QDPARSE_FAULT_INJECTION
namespace fault {
void FailAllocation(uint64_t n) {
  armedAt = n;
  fired = false;
}
bool Fired() { return fired; }
int64_t LiveBlocks() { return live; }
}  // namespace fault
#endif

}  // namespace qd
