// The host clock: every reading of wall-clock time (subband creation, device
// lifetimes, log lines) goes through here so that tests and capture replay can
// drive time without sleeping.
#ifndef TESSARON_HOST_CLOCK_H
#define TESSARON_HOST_CLOCK_H

#include <sys/time.h>

typedef void (*HostClockFn)(timeval* now);

// Fills *now with the current host time (gettimeofday unless replaced).
void GetHostTime(timeval* now);
// Replaces the clock source; nullptr restores gettimeofday.
void SetHostClock(HostClockFn fn);
void ResetHostClock();

#endif
