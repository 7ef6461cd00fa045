// What the receiver itself measures of each channel: the mean noise power
// per bin and the card's sample interval. Both come from the sample stream,
// so thresholds can follow the card actually in use rather than constants.
#ifndef TESSARON_CHANNEL_CONDITIONS_H
#define TESSARON_CHANNEL_CONDITIONS_H

#include <array>
#include <cstdint>
#include <vector>

#include "script_utils_module.h"

// Noise floor of one channel. Over a block of samples each bin's 20 % point
// (counted from the weakest) is taken, and of those 56 values the 4th
// weakest: continuous emitters over up to 52 of the 56 bins leave it alone.
// For exponential (Rayleigh-amplitude) noise power of mean N, stored in
// truncated whole dB, that value sits 7 dB below N. Bursts over the whole
// view a share a of the time lift it by about -10 log10(1 - a) dB (3 dB at
// 50 %): the detector gets less sensitive there, never more.
class NoiseFloorEstimator {
public:
    static constexpr float kNominalNoiseDbm = -95.0f;  // card's floor before any estimate
    static constexpr int kBlockSamples = 512;
    static constexpr float kStatisticBelowMeanDb = 7.0f;
    // Stored values (dB below 1 mW) the per-bin counts distinguish; weaker
    // and stronger values count at the ends of the range.
    static constexpr int kLowestValue = 70;
    static constexpr int kValues = 64;

    // Takes one 56-value sample (positive dB below 1 mW).
    void Observe(const std::vector<float>& sample);
    // The same for a sample held as 56 whole-dB bytes.
    void Observe(const uint8_t* row);
    // Mean noise power per bin in dBm, nominal until the first full block.
    float NoiseMeanDbm() const { return noise_mean_dbm; }
    bool HasEstimate() const { return has_estimate; }

private:
    std::array<std::array<uint16_t, kValues>, 56> counts{};
    int samples_in_block = 0;
    float noise_mean_dbm = kNominalNoiseDbm;
    bool has_estimate = false;

    void Count(size_t bin, int stored);
    void EndSample();
    void EndBlock();
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
    void Observe(u64 time_us, float freq, const uint8_t* row);
    float NoiseMeanDbm(float freq) const;
    float SampleIntervalUs() const { return interval.IntervalUs(); }

private:
    std::array<NoiseFloorEstimator, 6> floors{};
    NoiseFloorEstimator off_channel{};
    SampleIntervalEstimator interval{};

    const NoiseFloorEstimator& FloorOf(float freq) const;
};

#endif
