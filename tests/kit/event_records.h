// Event records as the tracker and the channel visits report them, for the
// tests of the outputs that format them.
#ifndef TESSARON_TESTS_KIT_EVENT_RECORDS_H
#define TESSARON_TESTS_KIT_EVENT_RECORDS_H

#include <cstddef>

#include "event_sink.h"

// A live hopper, the first of its kind, seen from first_seen_s to
// last_seen_s (host seconds).
DeviceEventRecord HopperEvent(PulseType classification, long first_seen_s, long last_seen_s,
                              float power_dbm = 0.0f);

// A live fixed-frequency device, the first of its kind, on bins start..end
// of the subband centred on band_cfreq_mhz.
struct BandBins {
    float band_cfreq_mhz;
    int start_bin;
    int center_bin;
    int end_bin;
};
DeviceEventRecord FixedEvent(PulseType classification, const BandBins& band, long first_seen_s,
                             long last_seen_s, float power_dbm);

// The averaged spectrum of one visit to the channel at freq_mhz.
ChannelSpectrumRecord SpectrumRecord(float freq_mhz, long spectra, const float* db_below_mw,
                                     std::size_t bins);

#endif
