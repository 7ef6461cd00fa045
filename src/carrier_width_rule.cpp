#include "carrier_width_rule.h"

#include <algorithm>

namespace {

constexpr float BINS_PER_MHZ = 3.2f;

}  // namespace

float CarrierWidthMhz(const std::vector<float>& db_avg_dbm, int peak, float drop_db,
                      float noise_edge_dbm) {
    const int last = static_cast<int>(db_avg_dbm.size()) - 1;
    if (peak < 0 || peak > last) {
        return 0.0f;
    }
    const float limit = std::max(db_avg_dbm[static_cast<size_t>(peak)] - drop_db, noise_edge_dbm);
    int low = peak;
    while (low > 0 && db_avg_dbm[static_cast<size_t>(low - 1)] >= limit) {
        low--;
    }
    int high = peak;
    while (high < last && db_avg_dbm[static_cast<size_t>(high + 1)] >= limit) {
        high++;
    }
    // A band cut by one edge of the view belongs to a carrier centred near
    // or beyond that edge: mirror its far half.
    int bins = high - low + 1;
    if (low == 0 && high < last) {
        bins = std::max(bins, 2 * (high - peak) + 1);
    } else if (high == last && low > 0) {
        bins = std::max(bins, 2 * (peak - low) + 1);
    }
    return static_cast<float>(bins) / BINS_PER_MHZ;
}

bool IsNarrowLine(const HighDutyMetrics& metrics, const std::vector<float>& db_avg_dbm,
                  float noise_edge_dbm) {
    return CarrierWidthMhz(db_avg_dbm, metrics.norm_cfreq_bin, CARRIER_WIDTH_DROP_DB,
                           noise_edge_dbm) <= LINE_MAX_WIDTH_MHZ;
}

PulseType CarrierClassByWidth(const HighDutyMetrics& metrics, const std::vector<float>& db_avg_dbm,
                              float noise_edge_dbm) {
    if (metrics.duty_max < CARRIER_MIN_DUTY) {
        return PULSE_NONE;
    }
    const int peak = metrics.norm_cfreq_bin;
    const float width = CarrierWidthMhz(db_avg_dbm, peak, CARRIER_WIDTH_DROP_DB, noise_edge_dbm);
    if (width < ANALOG_MAX_WIDTH_MHZ) {
        return PULSE_ANALOGPHONE;
    }
    // Wide and bell-shaped: FM video. A flat-topped wide band (OFDM, a
    // digital link) is left to the other rules.
    const float top = CarrierWidthMhz(db_avg_dbm, peak, CARRIER_TOP_DROP_DB, noise_edge_dbm);
    if (width > VIDEO_MIN_WIDTH_MHZ && top < VIDEO_MAX_TOP_SHARE * width) {
        return PULSE_VIDEOCAM;
    }
    return PULSE_NONE;
}
