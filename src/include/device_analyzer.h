// The process-wide memory of detected devices: merges detections into
// tracked records, announces them to the UI, ends and logs devices that have
// gone unconfirmed, and answers which bins tracked fixed devices occupy.
#ifndef TESSARON_DEVICE_ANALYZER_H
#define TESSARON_DEVICE_ANALYZER_H

#include <sys/time.h>

#include <utility>
#include <vector>

#include "event_sink.h"
#include "fh_interferer_class.h"
#include "fixedfreq_interferer_class.h"
#include "pulse_class.h"
#include "script_utils_module.h"

inline constexpr int MIN_ACTIVE_HOST_SECONDS = 2;  // s present before announced
inline constexpr int INACTIVITY_TIME = 5;          // s unconfirmed before ended

class DeviceAnalyzer {
public:
    static void AddNewFhDevice(std::vector<RssiPulse>& rssi_pulses, PulseType pulse_type,
                               u64 mac_start_time, u64 mac_end_time, float device_rssi,
                               int count_pulses);
    static void AddNewDevices(std::vector<FhInterferer>& devices);
    static void AddNewDevices(std::vector<FixedFreqInterferer>& devices);
    static void EndInactiveDevices();
    static void PrintDeviceStatus();
    static void ObtainFilterList(std::vector<std::pair<int, int>>& filter_list,
                                 bool use_high_duty_only);
    static bool IsHighDeviceActivity(float subband_freq, int peak_index);
    static void SendFhDeviceInfo();
    static void SendFfiDeviceInfo();
    static void SendCompletedDevicesFlag(PulseType classification, const timeval& start_time);

    // The devices tracked now, hoppers first, each numbered from 1 within its
    // kind (short-lived ones included).
    static std::vector<DeviceEventRecord> ActiveDevices();
    static std::size_t ActiveDeviceCount();
    // The tracked records themselves, in merge order, and how many devices
    // of either kind have ended since start-up.
    static const std::vector<FhInterferer>& ActiveHoppers();
    static const std::vector<FixedFreqInterferer>& ActiveFixedDevices();
    static long CompletedDeviceCount();

    // Forgets every tracked and completed device and the counters.
    static void ResetForTests();
};

#endif
