// The sensing card: which channel it dwells on when, when it takes FFT
// snapshots, what power each of its 56 bins sees, and how that power is
// packed into the 8-bit magnitudes and the rssi byte of a spectral report.
#ifndef TESSARON_SIM_CARD_MODEL_H
#define TESSARON_SIM_CARD_MODEL_H

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "emitters.h"
#include "fft_data.h"

namespace sim {

inline constexpr int CARD_BINS = 56;
inline constexpr double CARD_BIN_MHZ = 0.3125;
inline constexpr int CARD_DC_BIN = 28;  // bin index of the centre frequency
// Channel order of the card's scan: channels 3, 6, 7, 9, 11, 1.
inline constexpr std::array<uint16_t, 6> CARD_CHANNEL_ORDER = {2422, 2437, 2442, 2452, 2462, 2412};

struct CardConfig {
    double interval_us = 57.0;  // FFT snapshot period
    int jitter_us = 1;          // +- integer jitter of the reported TSF
    uint64_t dwell_us = 410000;
    uint64_t retune_gap_us = 30000;  // channel command and scan restart
    double noise_dbm = -95.0;        // mean noise power per bin
    bool clock_wrap = false;         // start the 32-bit TSF 5 s before it wraps
};

// Fast generator for the per-bin noise (xoshiro256**); a standard uniform
// random bit generator, so the <random> distributions accept it.
class NoiseRng {
public:
    using result_type = uint64_t;
    explicit NoiseRng(uint64_t seed);
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return ~result_type{0}; }
    result_type operator()();

private:
    uint64_t s_[4];
};

// Card TSF at elapsed time 0.
uint64_t CardStartTsf(bool clock_wrap);

// Frequency of bin `bin` of a dwell centred on `centre_mhz`.
double BinFrequencyMhz(double centre_mhz, int bin);

// Power (dBm) in each bin for the given emissions, with receiver noise and
// per-snapshot fluctuation drawn from `rng`.
void SynthesiseBins(double centre_mhz, const std::vector<Emission>& emissions, double noise_dbm,
                    NoiseRng& rng, double* dbm_out);

// Fraction of an emission's power that falls into a bin centred df MHz from
// it (deterministic part of SynthesiseBins).
double BinFraction(const Mask& mask, double df_mhz);

// Packs 56 bin powers into the report's raw magnitudes (samples[2..57],
// with a DC spur in samples[30]) and rssi, so that the receiver's
// conversion gives each bin back within 1 dB when it lies within the 8-bit
// magnitudes' dynamic range (about 30 dB below the strongest bin; weaker
// bins come back no lower than ~48 dB below it).
void EncodeBins(const double* dbm, spectrum_fft& out);

// The receiver's conversion of a report into per-bin dBm (for checks; the
// daemon does its own).
void DecodeBins(const spectrum_fft& in, double* dbm_out);

// Card timing: snapshot times and the channel of each dwell.
class CardClock {
public:
    CardClock(const CardConfig& config, uint32_t seed);
    // Elapsed time (us since the start of the capture) of the next snapshot
    // and the channel it is taken on; false at a dwell boundary, after
    // which the next call starts the next dwell.
    bool Next(uint64_t* elapsed_us, uint16_t* freq_mhz);
    // Card TSF for an elapsed time (32-bit wrap applied if configured).
    uint64_t CardTime(uint64_t elapsed_us) const;
    uint64_t StartTsf() const { return start_tsf_; }

private:
    CardConfig config_;
    std::mt19937 rng_;
    uint64_t start_tsf_;
    int dwell_index_ = 0;
    uint64_t dwell_start_ = 0;
    double next_ = 0.0;
    bool in_dwell_ = false;
};

}  // namespace sim

#endif
