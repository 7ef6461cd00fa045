#include "card_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decibel.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRawFirstBin = 2;  // samples[2] is bin 0
constexpr int kRawDc = 30;

// Hann-windowed FFT response to a tone x bins away from a bin centre,
// normalised so that it sums to 1 over all bins (the window's power sum
// over integer offsets is 1.5 with W(0) = 1).
double HannToneFraction(double x) {
    const double ax = std::fabs(x);
    if (ax >= 6.0) {
        return 0.0;
    }
    double w;
    if (ax < 1e-9) {
        w = 1.0;
    } else if (std::fabs(1.0 - ax * ax) < 1e-9) {
        w = 0.5;
    } else {
        w = std::sin(kPi * ax) / (kPi * ax) / (1.0 - ax * ax);
    }
    return w * w / 1.5;
}

// Decoded power of one bin exactly as the receiver computes it (single
// precision where it works in single precision).
const float* MagnitudeDbTable() {
    static float table[256];
    static bool built = false;
    if (!built) {
        table[0] = 0.0f;
        for (int b = 1; b < 256; b++) {
            table[b] = static_cast<float>(20.0 * std::log10(static_cast<double>(b)));
        }
        built = true;
    }
    return table;
}

int StoredByte(int8_t rssi, uint8_t b, float log_sum) {
    const float t = MagnitudeDbTable()[b];
    const float p = static_cast<float>(rssi - 95) + t - log_sum;
    return static_cast<uint8_t>(-static_cast<int>(p));
}

float LogSumOfSquares(const uint8_t* raw) {
    float s = 0.0f;
    for (int i = kRawFirstBin; i < kRawFirstBin + CARD_BINS; i++) {
        s = static_cast<float>(static_cast<double>(s) +
                               static_cast<double>(raw[i]) * static_cast<double>(raw[i]));
    }
    return s > 0.0f ? 10.0f * std::log10(s) : 0.0f;
}

}  // namespace

NoiseRng::NoiseRng(uint64_t seed) {
    // splitmix64 expands the seed into the four words of state.
    for (uint64_t& word : s_) {
        seed += 0x9E3779B97F4A7C15ull;
        uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        word = z ^ (z >> 31);
    }
}

NoiseRng::result_type NoiseRng::operator()() {
    const auto rotl = [](uint64_t x, int k) { return (x << k) | (x >> (64 - k)); };
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

double BinFrequencyMhz(double centre_mhz, int bin) {
    return centre_mhz + (bin - CARD_DC_BIN) * CARD_BIN_MHZ;
}

double BinFraction(const Mask& mask, double df_mhz) {
    if (mask.kind == MaskKind::kTone) {
        return HannToneFraction(df_mhz / CARD_BIN_MHZ);
    }
    // Midpoint rule over eight slices of the bin.
    constexpr int kSlices = 8;
    const double slice = CARD_BIN_MHZ / kSlices;
    double sum = 0.0;
    for (int i = 0; i < kSlices; i++) {
        sum += mask.Psd(df_mhz - CARD_BIN_MHZ / 2 + (i + 0.5) * slice);
    }
    return sum * slice / mask.Total();
}

void SynthesiseBins(double centre_mhz, const std::vector<Emission>& emissions, double noise_dbm,
                    NoiseRng& rng, double* dbm_out) {
    std::exponential_distribution<double> rayleigh_power(1.0);
    std::normal_distribution<double> unit_normal(0.0, 1.0);
    double mw[CARD_BINS];
    const double noise_mw = DbToPowerRatio(noise_dbm);
    for (int b = 0; b < CARD_BINS; b++) {
        mw[b] = noise_mw * rayleigh_power(rng);
    }
    for (const Emission& e : emissions) {
        const Mask& mask = *e.mask;
        const double total_mw = DbToPowerRatio(e.power_dbm);
        const double extent = mask.Extent();
        const double lo = BinFrequencyMhz(centre_mhz, 0);
        const int first =
            std::max(0, static_cast<int>(std::floor((e.centre_mhz - extent - lo) / CARD_BIN_MHZ)));
        const int last =
            std::min(CARD_BINS - 1,
                     static_cast<int>(std::ceil((e.centre_mhz + extent - lo) / CARD_BIN_MHZ)));
        for (int b = first; b <= last; b++) {
            const double frac = mask.FractionInBin(BinFrequencyMhz(centre_mhz, b) - e.centre_mhz);
            if (frac <= 0.0) {
                continue;
            }
            double fluct;
            if (mask.fluctuation == Fluctuation::kNoiseLike) {
                fluct = rayleigh_power(rng);
            } else {
                fluct = std::exp(0.23025850929940458 * mask.jitter_db * unit_normal(rng));
            }
            mw[b] += total_mw * frac * fluct;
        }
    }
    for (int b = 0; b < CARD_BINS; b++) {
        dbm_out[b] = 10.0 * std::log10(mw[b]);
    }
}

void EncodeBins(const double* dbm, spectrum_fft& out) {
    uint8_t* raw = out.samples;
    memset(raw, 0, sizeof(out.samples));
    double peak = dbm[0];
    for (int b = 1; b < CARD_BINS; b++) {
        peak = std::max(peak, dbm[b]);
    }
    // Magnitudes relative to the strongest bin, which gets full scale.
    for (int b = 0; b < CARD_BINS; b++) {
        const double amplitude = 255.0 * std::exp(0.11512925464970229 * (dbm[b] - peak));
        raw[kRawFirstBin + b] = static_cast<uint8_t>(std::clamp(std::lround(amplitude), 1L, 255L));
    }
    // The receiver replaces the DC bin by its neighbours' mean before it
    // sums the squares; account for that, then add the card's DC spur.
    const uint8_t dc = static_cast<uint8_t>((raw[kRawDc - 1] + raw[kRawDc + 1]) / 2);
    raw[kRawDc] = dc;
    const float log_sum = LogSumOfSquares(raw);
    // rssi carries the total power in whole dB; pick the value that puts
    // the decoded bins closest to the intended ones.
    const float t_peak = 20.0f * std::log10(255.0f);
    const int estimate = static_cast<int>(std::lround(peak + 95.0 - t_peak + log_sum));
    int best_rssi = estimate;
    double best_error = 1e9;
    for (int r = estimate - 1; r <= estimate + 1; r++) {
        const int8_t rssi = static_cast<int8_t>(std::clamp(r, -128, 127));
        double worst = 0.0;
        for (int b = 0; b < CARD_BINS; b++) {
            if (b == CARD_DC_BIN || dbm[b] < peak - 30.0) {
                continue;
            }
            const double decoded = -StoredByte(rssi, raw[kRawFirstBin + b], log_sum);
            worst = std::max(worst, std::fabs(decoded - dbm[b]));
        }
        if (worst < best_error) {
            best_error = worst;
            best_rssi = rssi;
        }
    }
    out.rssi = static_cast<int8_t>(std::clamp(best_rssi, -128, 127));
    raw[kRawDc] = static_cast<uint8_t>(std::min(255, dc + 24));
    out.start_index = kRawFirstBin;
    out.sample_bin_cnt = CARD_BINS;
    out.width = 20;
    out.datalen = CONST_FFT_RAW_BINS;
}

void DecodeBins(const spectrum_fft& in, double* dbm_out) {
    uint8_t raw[CONST_FFT_RAW_BINS];
    memcpy(raw, in.samples, sizeof(raw));
    raw[kRawDc] = static_cast<uint8_t>((raw[kRawDc - 1] + raw[kRawDc + 1]) / 2);
    const float log_sum = LogSumOfSquares(raw);
    for (int b = 0; b < CARD_BINS; b++) {
        dbm_out[b] = -StoredByte(in.rssi, raw[kRawFirstBin + b], log_sum);
    }
}

CardClock::CardClock(const CardConfig& config, uint32_t seed)
    : config_(config), rng_(seed), start_tsf_(CardStartTsf(config.clock_wrap)) {}

uint64_t CardStartTsf(bool clock_wrap) {
    return clock_wrap ? (uint64_t{1} << 32) - 5000000 : 1000000;
}

bool CardClock::Next(uint64_t* elapsed_us, uint16_t* freq_mhz) {
    if (!in_dwell_) {
        in_dwell_ = true;
        next_ = static_cast<double>(dwell_start_);
    }
    std::uniform_int_distribution<int> jitter(-config_.jitter_us, config_.jitter_us);
    const double t = next_;
    if (t >= static_cast<double>(dwell_start_ + config_.dwell_us)) {
        // Retune: the channel command and the scan restart take a while.
        std::uniform_int_distribution<int> gap(-5000, 5000);
        dwell_start_ += config_.dwell_us + config_.retune_gap_us + gap(rng_);
        dwell_index_++;
        in_dwell_ = false;
        return false;
    }
    next_ += config_.interval_us;
    const int64_t stamped = static_cast<int64_t>(std::llround(t)) + jitter(rng_);
    *elapsed_us = static_cast<uint64_t>(std::max<int64_t>(stamped, 0));
    *freq_mhz = CARD_CHANNEL_ORDER[dwell_index_ % CARD_CHANNEL_ORDER.size()];
    return true;
}

uint64_t CardClock::CardTime(uint64_t elapsed_us) const {
    const uint64_t tsf = start_tsf_ + elapsed_us;
    return config_.clock_wrap ? (tsf & 0xFFFFFFFFull) : tsf;
}

}  // namespace sim
