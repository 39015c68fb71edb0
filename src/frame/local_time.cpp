#include "frame/local_time.h"

#include <cstdlib>
#include <cstring>

#include "frame/calendar.h"

namespace qd {
namespace {

constexpr int64_t kDay = 86400;

// The zone's answer at one instant.
struct ZoneState {
  int32_t offset;  // seconds east of UTC
  bool summer;
  bool operator==(const ZoneState& o) const { return offset == o.offset && summer == o.summer; }
};

// The zone is learned in spans of 2^24 seconds (194 days): the state at the
// span's start and the changes inside it. Probes 2^16 seconds (18 hours)
// apart, then bisection to the second: two changes closer than a probe step
// that undo each other are not seen (no zone has such).
constexpr int kSpanBits = 24;
constexpr int64_t kSpanLength = int64_t{1} << kSpanBits;
constexpr int64_t kProbeStep = int64_t{1} << 16;
constexpr int kMaxChanges = 4;  // more in one span: converted by mktime itself
constexpr uint32_t kSlots = 16;
constexpr size_t kZoneNameMax = 128;  // a longer TZ value: mktime itself

struct Span {
  int64_t key;
  bool learned;
  uint8_t changes;
  ZoneState first;
  int64_t at[kMaxChanges];
  ZoneState after[kMaxChanges];
};

// Per thread, so readers share nothing and take no lock.
struct ZoneCache {
  bool seen;  // the TZ value below has been loaded by this thread
  bool tzSet;
  char tz[kZoneNameMax];
  Span spans[kSlots];
};

thread_local ZoneCache cache;

void ReloadZone() {
#if defined(_WIN32)
  _tzset();
#else
  tzset();
#endif
}

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {  // month 1..12
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// Calendar fields as seconds counted as if UTC: the month carried into the
// year, everything else added up as it stands.
int64_t ClockOf(const struct tm& f, int sec) {
  int64_t month = f.tm_mon % 12;
  int64_t year = int64_t{f.tm_year} + 1900 + f.tm_mon / 12;
  if (month < 0) month += 12, year -= 1;
  const int64_t days = DaysFromCivil(year, month + 1, 1) + f.tm_mday - 1;
  return days * kDay + int64_t{f.tm_hour} * 3600 + int64_t{f.tm_min} * 60 + sec;
}

bool FitsTime(int64_t t) { return static_cast<int64_t>(static_cast<time_t>(t)) == t; }

bool Probe(int64_t t, ZoneState* out) {
  struct tm f {};
  if (!FitsTime(t) || !LocalFields(static_cast<time_t>(t), &f)) return false;
  *out = ZoneState{static_cast<int32_t>(ClockOf(f, f.tm_sec) - t), f.tm_isdst > 0};
  return true;
}

bool Learn(int64_t key, Span* s) {
  s->learned = false;
  s->key = key;
  s->changes = 0;
  const int64_t start = key * kSpanLength;
  const int64_t end = start + kSpanLength - 1;
  ZoneState before{};
  if (!Probe(start, &before)) return false;
  s->first = before;
  int64_t from = start;
  for (int64_t p = start + kProbeStep;; p += kProbeStep) {
    if (p > end) p = end;
    ZoneState now{};
    if (!Probe(p, &now)) return false;
    while (!(now == before)) {  // a change in (from, p]: find the first
      int64_t lo = from, hi = p;
      ZoneState found = now;
      while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        ZoneState m{};
        if (!Probe(mid, &m)) return false;
        if (m == before) {
          lo = mid;
        } else {
          hi = mid;
          found = m;
        }
      }
      if (s->changes == kMaxChanges) return false;
      s->at[s->changes] = hi;
      s->after[s->changes] = found;
      ++s->changes;
      from = hi;
      before = found;
    }
    from = p;
    if (p == end) break;
  }
  s->learned = true;
  return true;
}

// Loads the zone again when TZ is not what this thread learned. False when
// the value is too long to remember.
bool CurrentZone() {
  const char* tz = std::getenv("TZ");
  if (cache.seen && (tz != nullptr) == cache.tzSet && (tz == nullptr || std::strcmp(tz, cache.tz) == 0)) {
    return true;
  }
  cache.seen = false;
  if (tz != nullptr && std::strlen(tz) >= kZoneNameMax) return false;
  ReloadZone();
  for (Span& s : cache.spans) s.learned = false;
  cache.tzSet = tz != nullptr;
  if (tz != nullptr) std::strcpy(cache.tz, tz);
  cache.seen = true;
  return true;
}

bool StateAt(int64_t t, ZoneState* out) {
  const int64_t key = (t >= 0 ? t : t - (kSpanLength - 1)) / kSpanLength;
  Span& s = cache.spans[static_cast<uint64_t>(key) % kSlots];
  if ((!s.learned || s.key != key) && !Learn(key, &s)) return false;
  ZoneState state = s.first;
  for (uint8_t i = 0; i < s.changes && t >= s.at[i]; ++i) state = s.after[i];
  *out = state;
  return true;
}

// mktime's search: start from a guessed offset, correct by the error until
// the clock matches; an oscillation means a skipped clock time, which ends
// on the summer-time reading (or on the flag not asked for). When the
// match has the other summer-time flag than asked for, the offset of the
// nearest time that has the asked one is used. False where the zone could
// not be learned: the caller asks mktime itself.
bool Search(int64_t clock, int isdst, int64_t* out) {
  ZoneState s{};
  if (!StateAt(clock - kDay, &s)) return false;
  int64_t t = clock - s.offset;
  int64_t t1 = t, t2 = t;
  for (int probes = 6;;) {
    if (!StateAt(t, &s)) return false;
    const int64_t dt = clock - (t + s.offset);
    if (dt == 0) break;
    if (t == t1 && t != t2 && (isdst < 0 ? s.summer : (isdst != 0) != s.summer)) {
      *out = t;
      return true;
    }
    if (--probes == 0) return false;
    t1 = t2;
    t2 = t;
    t += dt;
  }
  if (isdst >= 0 && (isdst != 0) != s.summer) {
    constexpr int64_t kStride = 601200;
    constexpr int64_t kBound = 457243200 / 2 + kStride;
    for (int64_t delta = kStride; delta < kBound; delta += kStride) {
      for (int64_t direction = -1; direction <= 1; direction += 2) {
        const int64_t at = t + delta * direction;
        ZoneState o{};
        if (!StateAt(at, &o)) return false;
        if ((isdst != 0) == o.summer) {
          *out = clock - o.offset;
          return true;
        }
      }
    }
    return false;  // the zone never has the asked flag: as mktime decides
  }
  *out = t;
  return true;
}

int64_t ByMktime(const struct tm& fields) {
  struct tm copy = fields;
  return static_cast<int64_t>(std::mktime(&copy));
}

}  // namespace

int64_t LocalFieldsToTime(const struct tm& fields) {
  // Seconds out of range are left out of the search and added after it.
  const int sec = fields.tm_sec < 0 ? 0 : fields.tm_sec > 59 ? 59 : fields.tm_sec;
  int64_t t = 0;
  if (!CurrentZone() || !Search(ClockOf(fields, sec), fields.tm_isdst, &t)) return ByMktime(fields);
  t += fields.tm_sec - sec;
  return FitsTime(t) ? t : -1;
}

int64_t LocalClockToTime(int64_t clock, int isdst) {
  int64_t t = 0;
  if (CurrentZone() && Search(clock, isdst, &t)) return FitsTime(t) ? t : -1;
  const int64_t days = (clock >= 0 ? clock : clock - (kDay - 1)) / kDay;
  if (days > INT32_MAX - 1 || days < INT32_MIN) return -1;
  const int64_t rest = clock - days * kDay;
  struct tm fields {};
  fields.tm_year = 70;
  fields.tm_mday = static_cast<int>(1 + days);
  fields.tm_hour = static_cast<int>(rest / 3600);
  fields.tm_min = static_cast<int>(rest / 60 % 60);
  fields.tm_sec = static_cast<int>(rest % 60);
  fields.tm_isdst = isdst;
  return ByMktime(fields);
}

bool LocalOffsetAt(int64_t t, int32_t* offset, bool* summer) {
  ZoneState s{};
  if (!CurrentZone()) {
    ReloadZone();
    if (!Probe(t, &s)) return false;
  } else if (!StateAt(t, &s) && !Probe(t, &s)) {
    return false;
  }
  *offset = s.offset;
  *summer = s.summer;
  return true;
}

}  // namespace qd
