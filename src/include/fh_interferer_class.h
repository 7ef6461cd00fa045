// Record of one frequency-hopping device (Bluetooth, FHSS cordless phone,
// Xbox, unknown hopper): its pulses, card-time and host-time spans, class and
// power. Plain copyable value; the tracker merges repeated detections.
#ifndef TESSARON_FH_INTERFERER_CLASS_H
#define TESSARON_FH_INTERFERER_CLASS_H

#include <sys/time.h>

#include <string>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"

class FhInterferer {
public:
    u64 start_time;
    std::vector<RssiPulse> pulse_list;
    u64 end_time;
    int count_pulses;
    PulseType classification;
    timeval host_start_time;
    timeval host_end_time;
    float average_slot_start_time;
    float device_rssi;  // dBm

    FhInterferer(const std::vector<RssiPulse>& pulse_list, PulseType classification, u64 start_time,
                 u64 end_time, float device_rssi, int count_pulses);

    void set_host_start_time(timeval time) { host_start_time = time; }
    void set_host_end_time(timeval time) { host_end_time = time; }
    // Whole host seconds between first presence and last confirmation.
    int GetHostDuration() const;
    bool IsMatchingInterferer(FhInterferer& new_interferer) const;
    PulseType GetNewClassification(PulseType new_classification) const;
    void UpdateInterfererInstance(const FhInterferer& new_interferer);
    // The output-log line ("FreqHop: ..."), ending with "\n".
    std::string toString() const;
};

// Earlier / later of two host times (seconds first, then microseconds).
timeval EarlierHostTime(const timeval& a, const timeval& b);
timeval LaterHostTime(const timeval& a, const timeval& b);
// "%Y-%m-%d %H:%M:%S" in local time.
std::string FormatLocalTime(const timeval& t);

#endif
