// Calendar fields of a time value, in the reentrant forms, so that calls on
// different threads cannot disturb each other. False when the time has no
// calendar form.
#pragma once

#include <ctime>

namespace qd {

inline bool LocalFields(time_t t, struct tm* out) {
#if defined(_WIN32)
  return localtime_s(out, &t) == 0;
#else
  return localtime_r(&t, out) != nullptr;
#endif
}

inline bool UtcFields(time_t t, struct tm* out) {
#if defined(_WIN32)
  return gmtime_s(out, &t) == 0;
#else
  return gmtime_r(&t, out) != nullptr;
#endif
}

}  // namespace qd
