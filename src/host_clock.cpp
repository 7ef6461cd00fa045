#include "host_clock.h"

namespace {

void SystemClock(timeval* now) {
    gettimeofday(now, nullptr);
}

HostClockFn host_clock = SystemClock;

}  // namespace

void GetHostTime(timeval* now) {
    host_clock(now);
}

void SetHostClock(HostClockFn fn) {
    host_clock = fn ? fn : SystemClock;
}

void ResetHostClock() {
    host_clock = SystemClock;
}
