#include "carrier_width_rule.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float BINS_PER_MHZ = 3.2f;

}  // namespace

BinSpan SpanWithin(const std::vector<float>& db_avg_dbm, int peak, float drop_db,
                   float noise_edge_dbm) {
    const int last = static_cast<int>(db_avg_dbm.size()) - 1;
    if (peak < 0 || peak > last) {
        return {peak, peak};
    }
    const float limit = std::max(db_avg_dbm[static_cast<size_t>(peak)] - drop_db, noise_edge_dbm);
    BinSpan span = {peak, peak};
    while (span.low > 0 && db_avg_dbm[static_cast<size_t>(span.low - 1)] >= limit) {
        span.low--;
    }
    while (span.high < last && db_avg_dbm[static_cast<size_t>(span.high + 1)] >= limit) {
        span.high++;
    }
    return span;
}

float CarrierWidthMhz(const std::vector<float>& db_avg_dbm, int peak, float drop_db,
                      float noise_edge_dbm) {
    const int last = static_cast<int>(db_avg_dbm.size()) - 1;
    if (peak < 0 || peak > last) {
        return 0.0f;
    }
    const BinSpan span = SpanWithin(db_avg_dbm, peak, drop_db, noise_edge_dbm);
    const int low = span.low;
    const int high = span.high;
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

namespace {

float PowerRatio(float db) {
    return std::pow(10.0f, db / 10.0f);
}

// Share of samples over level t (mW) of a bin on the air a share a of the
// time at a noise-like mean power that, mixed in dB with the noise n (mW),
// averages excess_db over the noise's own average.
double DutyOfShare(double a, double excess_db, double n, double t) {
    const double on_mw = n * std::pow(10.0, excess_db / (10.0 * a));
    return a * std::exp(-t / on_mw) + (1.0 - a) * std::exp(-t / n);
}

}  // namespace

OnShare OnShareOfBin(float mean_dbm, float duty, float noise_dbm, float duty_level_dbm) {
    const double n = PowerRatio(noise_dbm);
    const double t = PowerRatio(duty_level_dbm);
    const double excess_db =
        std::max(0.0, static_cast<double>(mean_dbm - (noise_dbm - NOISE_AVERAGE_BELOW_MEAN_DB)));
    const double continuous = DutyOfShare(1.0, excess_db, n, t);
    const double noise_alone = std::exp(-t / n);
    const bool informative = duty_level_dbm <= noise_dbm + MAX_DUTY_LEVEL_OVER_NOISE_DB &&
                             continuous - noise_alone >= MIN_DUTY_EVIDENCE;
    if (!(static_cast<double>(duty) < continuous)) {
        return {1.0f, informative};
    }
    // The duty grows with the share: the fewer the samples on the air, the
    // stronger each must be for the same average, and the surer it passes.
    double low = 0.0;
    double high = 1.0;
    for (int i = 0; i < 30; i++) {
        const double mid = 0.5 * (low + high);
        if (mid > 0.0 && DutyOfShare(mid, excess_db, n, t) < static_cast<double>(duty)) {
            low = mid;
        } else {
            high = mid;
        }
    }
    return {static_cast<float>(0.5 * (low + high)), informative};
}

std::vector<float> ExcessOverNoiseDb(const std::vector<float>& db_avg_dbm, float noise_dbm) {
    const float noise_average = noise_dbm - NOISE_AVERAGE_BELOW_MEAN_DB;
    std::vector<float> excess;
    excess.reserve(db_avg_dbm.size());
    for (const float v : db_avg_dbm) {
        const float ratio = PowerRatio(v - noise_average) - 1.0f;
        excess.push_back(ratio > 0.0f ? 10.0f * std::log10(ratio) : -100.0f);
    }
    return excess;
}

PulseType CarrierClassOverNoise(const HighDutyMetrics& metrics,
                                const std::vector<float>& db_avg_dbm, float noise_dbm) {
    const int peak = metrics.norm_cfreq_bin;
    if (peak < 0 || peak >= static_cast<int>(db_avg_dbm.size())) {
        return PULSE_NONE;
    }
    const std::vector<float> excess = ExcessOverNoiseDb(db_avg_dbm, noise_dbm);
    // Where the power over the noise can still be told from it.
    const float floor_db = 10.0f * std::log10(PowerRatio(EXCESS_FLOOR_DB) - 1.0f);
    const float depth =
        std::min(CARRIER_WIDTH_DROP_DB, excess[static_cast<size_t>(peak)] - floor_db);
    if (depth < MIN_WIDTH_DEPTH_DB) {
        return PULSE_NONE;
    }
    const float width = CarrierWidthMhz(excess, peak, depth, floor_db);
    if (width < ANALOG_MAX_WIDTH_MHZ) {
        return PULSE_ANALOGPHONE;
    }
    const float scale = std::sqrt(depth / CARRIER_WIDTH_DROP_DB);
    const float top = CarrierWidthMhz(
        excess, peak, depth * CARRIER_TOP_DROP_DB / CARRIER_WIDTH_DROP_DB, floor_db);
    if (width > VIDEO_MIN_WIDTH_MHZ * scale && top < VIDEO_MAX_TOP_SHARE * width) {
        return PULSE_VIDEOCAM;
    }
    return PULSE_NONE;
}
