// Notices a live daemon that hears nothing: no producer running, a producer
// sending elsewhere, or a card whose spectral scan never started. After 10 s
// without a datagram it says so once, naming the listen address, and then
// once a minute while the silence lasts.
#ifndef TESSARON_SILENCE_MONITOR_H
#define TESSARON_SILENCE_MONITOR_H

#include <sys/time.h>

#include <string>

inline constexpr long CONST_SILENCE_FIRST_WARNING_S = 10;
inline constexpr long CONST_SILENCE_REPEAT_S = 60;
// How often the receive loop wakes up to look at the clock when idle.
inline constexpr int CONST_SILENCE_POLL_MS = 200;

class SilenceMonitor {
public:
    // `listen` is the address as printed, e.g. "0.0.0.0:10000".
    SilenceMonitor(std::string listen, const timeval& now);
    void OnDatagram(const timeval& now);
    // The warning due at `now`, or an empty text.
    std::string Check(const timeval& now);

private:
    std::string listen_;
    timeval last_datagram_;
    long next_warning_s_;  // seconds of silence at which the next warning is due
};

#endif
