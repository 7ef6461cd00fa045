// What the receiver itself measures of each channel: the mean noise power
// per bin and the card's sample interval. Both come from the sample stream,
// so thresholds can follow the card actually in use rather than constants.
#ifndef TESSARON_CHANNEL_CONDITIONS_H
#define TESSARON_CHANNEL_CONDITIONS_H

#include <array>
#include <cstdint>
#include <vector>

#include "script_utils_module.h"

// Noise floor of one channel. In every sample the 6th weakest of the 56 bins
// is taken (the 10 % point of the bins, free of any emitter covering less
// than 90 % of the channel); over a block of samples the 20 % point of those
// values is taken (free of emitters on the air less than 80 % of the time).
// For exponential (Rayleigh-amplitude) noise power with mean N, stored in
// truncated whole dB, that statistic sits 11 dB below N.
class NoiseFloorEstimator {
public:
    static constexpr float kNominalNoiseDbm = -95.0f;  // card's floor before any estimate
    static constexpr int kBlockSamples = 512;
    static constexpr float kStatisticBelowMeanDb = 11.0f;

    // Takes one 56-value sample (positive dB below 1 mW).
    void Observe(const std::vector<float>& sample);
    // Mean noise power per bin in dBm, nominal until the first full block.
    float NoiseMeanDbm() const { return noise_mean_dbm; }
    bool HasEstimate() const { return has_estimate; }

private:
    std::array<uint32_t, 256> histogram{};
    int samples_in_block = 0;
    float noise_mean_dbm = kNominalNoiseDbm;
    bool has_estimate = false;
};

// Sample interval of the card: the median of the last kWindow successive
// time differences within a dwell (gaps and channel changes are skipped), so
// that a jittered timestamp or a lost sample moves it by nothing.
class SampleIntervalEstimator {
public:
    static constexpr int kWindow = 15;

    void Observe(u64 time_us, float freq);
    // Microseconds; 0 until kWindow differences have been seen.
    float IntervalUs() const { return interval_us; }

private:
    std::array<uint32_t, kWindow> diffs{};
    int filled = 0;
    int next = 0;
    u64 last_time = 0;
    float last_freq = -1.0f;
    float interval_us = 0.0f;
};

// Per-channel noise floors and the card's sample interval.
class ChannelConditions {
public:
    void Observe(u64 time_us, float freq, const std::vector<float>& sample);
    float NoiseMeanDbm(float freq) const;
    float SampleIntervalUs() const { return interval.IntervalUs(); }

private:
    std::array<NoiseFloorEstimator, 6> floors{};
    NoiseFloorEstimator off_channel{};
    SampleIntervalEstimator interval{};

    const NoiseFloorEstimator& FloorOf(float freq) const;
};

#endif
