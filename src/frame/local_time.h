// Local clock time to seconds since 1970 with mktime's answers, without its
// cost: mktime reloads the zone (a stat of the zone file under the runtime's
// global lock) on every call. Each thread learns the zone's offsets once for
// the stretch of time it converts, and learns them again when the TZ variable
// changes. A change of the system's zone file while TZ is unset is seen only
// after TZ changes, or by a thread that has not converted yet.
#pragma once

#include <cstdint>
#include <ctime>

namespace qd {

// Calendar fields read as local clock time, as mktime reads them with the
// fields' tm_isdst (-1: the zone decides; 0 or 1: standard or summer time).
// Fields out of range carry over as in mktime; `fields` is not changed. -1
// where mktime fails.
// A clock time that a spring change skips or an autumn change repeats gets
// the answer mktime gives right after converting a time of the day before:
// the offset in force before the change is tried first. (mktime's own answer
// there depends on the offset its previous call happened to find.)
int64_t LocalFieldsToTime(const struct tm& fields);

// The same for clock seconds: the local calendar counted as if it were UTC.
int64_t LocalClockToTime(int64_t clock, int isdst);

// The offset east of UTC and the summer-time flag in force at `t`, as
// localtime gives them. False where localtime fails.
bool LocalOffsetAt(int64_t t, int32_t* offset, bool* summer);

}  // namespace qd
