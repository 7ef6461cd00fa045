// Record of one device that stays on one band of frequencies (microwave oven,
// analog phone, video camera, Zigbee, unknown high-duty emitter): its occupied
// bins in one subband's frame, peak power and time spans. Plain copyable
// value; the tracker merges repeated detections.
#ifndef TESSARON_FIXEDFREQ_INTERFERER_CLASS_H
#define TESSARON_FIXEDFREQ_INTERFERER_CLASS_H

#include <sys/time.h>

#include <string>
#include <utility>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"

class FixedFreqInterferer {
public:
    u64 start_time;
    u64 end_time;
    int count_instances;
    float band_cfreq;  // MHz, the frame the bins are counted in
    int center_bin_number;
    int start_bin_number;
    int end_bin_number;
    float bandwidth;  // bins
    float peak_rssi;  // dB below 1 mW
    timeval host_start_time;
    timeval host_end_time;
    PulseType classification;
    // The channel views (bit k: CONST_CENTER_FREQUENCIES[k]) the device
    // was seen from.
    unsigned views_seen;

    // interferer_info_tuple: centre bin, start bin, end bin, bandwidth, peak
    // power magnitude.
    FixedFreqInterferer(std::vector<float> interferer_info_tuple, u64 start_timeIn, u64 end_timeIn,
                        float subband_freq, PulseType classificationIn);

    void set_host_start_time(timeval time) { host_start_time = time; }
    void set_host_end_time(timeval time) { host_end_time = time; }
    int GetHostDuration() const;
    // Number of different channel views the device was seen from.
    int ViewsSeen() const;
    bool IsMatchingClassification(const FixedFreqInterferer& new_interferer) const;
    bool IsMatchingBins(const FixedFreqInterferer& new_interferer) const;
    bool IsMatchingInterferer(const FixedFreqInterferer& new_interferer) const;
    void UpdateDeviceInfo(const FixedFreqInterferer& new_interferer);
    void UpdateInterfererInstance(const FixedFreqInterferer& new_interferer);
    // The output-log line ("Fixed: ..."), ending with "\n".
    std::string toString() const;
};

#endif
