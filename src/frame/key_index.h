// The first position of each 16-bit key among up to 128, found in a probe or
// two whatever the order of the keys or of the questions: IFD tags and heap
// record types are looked up this way. Built before use; an index of keys
// known at compile time can be built there.
#pragma once

#include <cstdint>

namespace qd {

class KeyIndex {
 public:
  static constexpr uint32_t kCapacity = 128;

  KeyIndex() = default;  // unbuilt
  // Empty and built, for indexes built at compile time.
  struct Empty {};
  constexpr explicit KeyIndex(Empty) : keys_{}, slots_{} {}
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;

  // Indexes keyAt(0) .. keyAt(n - 1), n at most kCapacity.
  template <typename KeyAt>
  constexpr void Build(uint32_t n, KeyAt&& keyAt) {
    for (uint8_t& s : slots_) s = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint16_t key = keyAt(i);
      keys_[i] = key;
      uint32_t h = Hash(key);
      while (slots_[h] != 0 && keys_[slots_[h] - 1] != key) h = (h + 1) & kSlotMask;
      if (slots_[h] == 0) slots_[h] = static_cast<uint8_t>(i + 1);  // the first one stays
    }
  }

  // The first position that carries `key`.
  bool Find(uint16_t key, uint32_t* position) const {
    for (uint32_t h = Hash(key);; h = (h + 1) & kSlotMask) {  // half the slots stay free: it ends
      const uint32_t slot = slots_[h];
      if (slot == 0) return false;
      if (keys_[slot - 1] == key) {
        *position = slot - 1;
        return true;
      }
    }
  }

 private:
  static constexpr uint32_t kSlotMask = 2 * kCapacity - 1;

  // Fibonacci hashing: keys that crowd together spread over the slots.
  static constexpr uint32_t Hash(uint16_t key) { return (uint32_t{key} * 40503u >> 8) & kSlotMask; }

  uint16_t keys_[kCapacity];
  uint8_t slots_[kSlotMask + 1];  // position + 1, 0 when free
};

}  // namespace qd
