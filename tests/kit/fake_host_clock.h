// A host clock the test or tool sets; installed (Install, or
// SetHostClock(FakeHostClock::Read)) so that the analysis stamps events and
// times out devices on a time that does not depend on the machine.
#ifndef TESSARON_TESTS_KIT_FAKE_HOST_CLOCK_H
#define TESSARON_TESTS_KIT_FAKE_HOST_CLOCK_H

#include <sys/time.h>

#include <cstdint>

#include "host_clock.h"

struct FakeHostClock {
    static timeval& Now() {
        static timeval now{0, 0};
        return now;
    }
    static void Read(timeval* t) { *t = Now(); }
    static void Set(long sec, long usec = 0) {
        Now().tv_sec = sec;
        Now().tv_usec = usec;
    }
    // Sets the time and makes this clock the host clock.
    static void Install(long sec) {
        Set(sec);
        SetHostClock(Read);
    }
    static void Advance(long sec) { Now().tv_sec += sec; }
    static void AdvanceUs(uint64_t us) {
        const uint64_t total = static_cast<uint64_t>(Now().tv_usec) + us;
        Now().tv_sec += static_cast<time_t>(total / 1000000);
        Now().tv_usec = static_cast<suseconds_t>(total % 1000000);
    }
};

#endif
