// The output-log line of a tracked device's record ("FreqHop: ..." or
// "Fixed: ..."): it starts with the host time it is written at and the local
// date, so the clock is fixed and the zone is UTC.
#ifndef TESSARON_TESTS_KIT_RECORD_LOG_LINE_H
#define TESSARON_TESTS_KIT_RECORD_LOG_LINE_H

#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "fake_host_clock.h"

// The line written at host time `now` for a device first seen at host
// second first_s and last confirmed at last_s.
template <class Record>
std::string LogLineAt(timeval now, Record record, long first_s, long last_s) {
    setenv("TZ", "UTC", 1);
    tzset();
    FakeHostClock::Set(now.tv_sec, now.tv_usec);
    SetHostClock(FakeHostClock::Read);
    record.set_host_start_time({first_s, 0});
    record.set_host_end_time({last_s, 0});
    return record.toString();
}

#endif
