#include "event_records.h"

namespace {

DeviceEventRecord LiveEvent(PulseType classification, bool hopper, long first_seen_s,
                            long last_seen_s, float power_dbm) {
    const int duration_s = static_cast<int>(last_seen_s - first_seen_s);
    return {DeviceEventRecord::Kind::Active,
            1,
            classification,
            hopper,
            first_seen_s,
            last_seen_s,
            duration_s,
            power_dbm};
}

}  // namespace

DeviceEventRecord HopperEvent(PulseType classification, long first_seen_s, long last_seen_s,
                              float power_dbm) {
    return LiveEvent(classification, true, first_seen_s, last_seen_s, power_dbm);
}

DeviceEventRecord FixedEvent(PulseType classification, const BandBins& band, long first_seen_s,
                             long last_seen_s, float power_dbm) {
    DeviceEventRecord d = LiveEvent(classification, false, first_seen_s, last_seen_s, power_dbm);
    d.band_cfreq_mhz = band.band_cfreq_mhz;
    d.start_bin = band.start_bin;
    d.center_bin = band.center_bin;
    d.end_bin = band.end_bin;
    return d;
}

ChannelSpectrumRecord SpectrumRecord(float freq_mhz, long spectra, const float* db_below_mw,
                                     std::size_t bins) {
    return {0, freq_mhz, spectra, db_below_mw, bins, nullptr};
}
