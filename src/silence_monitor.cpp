#include "silence_monitor.h"

#include <utility>

SilenceMonitor::SilenceMonitor(std::string listen, const timeval& now)
    : listen_(std::move(listen)),
      last_datagram_(now),
      next_warning_s_(CONST_SILENCE_FIRST_WARNING_S) {}

void SilenceMonitor::OnDatagram(const timeval& now) {
    last_datagram_ = now;
    next_warning_s_ = CONST_SILENCE_FIRST_WARNING_S;
}

std::string SilenceMonitor::Check(const timeval& now) {
    const long silent_s = static_cast<long>(now.tv_sec - last_datagram_.tv_sec) -
                          (now.tv_usec < last_datagram_.tv_usec ? 1 : 0);
    if (silent_s < 0) {
        last_datagram_ = now;  // the host clock was set back
        return "";
    }
    if (silent_s < next_warning_s_) {
        return "";
    }
    // Due again at the next of 10, 70, 130, ... seconds of silence.
    next_warning_s_ = CONST_SILENCE_FIRST_WARNING_S +
                      CONST_SILENCE_REPEAT_S *
                          ((silent_s - CONST_SILENCE_FIRST_WARNING_S) / CONST_SILENCE_REPEAT_S + 1);
    return "Warning!! no spectrum datagram received on " + listen_ + " for " +
           std::to_string(silent_s) +
           " s: is a producer running and sending there (for a card on this machine: "
           "tessaron-producer --follow --input .../spectral_scan0)?\n";
}
