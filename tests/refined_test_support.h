// Helpers for the refined-rule tests: a scope that selects a rule set and
// restores the standard one, and receiver noise as the card reports it
// (exponential power per bin, Rayleigh amplitude, stored in whole dB below
// 1 mW, truncated).
#ifndef TESSARON_TESTS_REFINED_TEST_SUPPORT_H
#define TESSARON_TESTS_REFINED_TEST_SUPPORT_H

#include <cmath>
#include <random>
#include <vector>

#include "access_point.h"
#include "rule_set.h"
#include "subband_class.h"

namespace refinedtest {

class RulesScope {
public:
    explicit RulesScope(RuleSetId id) { SelectRules(id); }
    ~RulesScope() { SelectRules(RuleSetId::kStandard); }
    RulesScope(const RulesScope&) = delete;
    RulesScope& operator=(const RulesScope&) = delete;
};

// One stored value for a power in dBm, as the card's conversion leaves it.
inline float Stored(double dbm) {
    return static_cast<float>(std::trunc(-dbm));
}

class RayleighNoise {
public:
    explicit RayleighNoise(double mean_dbm, unsigned seed = 7)
        : mean_mw_(std::pow(10.0, mean_dbm / 10.0)), rng_(seed) {}

    double PowerDbm() { return 10.0 * std::log10(mean_mw_ * exponential_(rng_)); }

    std::vector<float> Sample() {
        std::vector<float> row(56);
        for (float& v : row) {
            v = Stored(PowerDbm());
        }
        return row;
    }

    // Adds a signal of `dbm` in one bin to the noise already in it.
    void AddSignal(std::vector<float>& row, int bin, double dbm) {
        const double noise_mw = mean_mw_ * exponential_(rng_);
        row[static_cast<size_t>(bin)] =
            Stored(10.0 * std::log10(noise_mw + std::pow(10.0, dbm / 10.0)));
    }

private:
    double mean_mw_;
    std::mt19937 rng_;
    std::exponential_distribution<double> exponential_{1.0};
};

// One subband of a card sampling every 57 us at 2437 MHz, fed samples of
// receiver noise or of a caller's making.
struct Receiver {
    static constexpr u64 kInterval = 57;
    AccessPoint ap{"00:00:00:00:00:01", 0, "test"};
    RayleighNoise noise;
    u64 t = 100000;

    explicit Receiver(unsigned seed = 11) : noise(-95.0, seed) {
        ap.AddNewSubband(&ap, t, 2437.0f, 95.0f, 0);
    }
    SubBand& Band() { return ap.GetCurrentSubband(); }
    void Feed(const std::vector<float>& row) {
        t += kInterval;
        Band().ProcessSubBand(t, 2437.0f, 95.0f, row);
    }
    void Noise(int samples) {
        for (int i = 0; i < samples; i++)
            Feed(noise.Sample());
    }
    void Close() { Band().ProcessBigTimeGapEvent(); }
    // `samples` samples of noise, each with the signals add(row) puts in.
    template <class AddSignals>
    void Rows(int samples, AddSignals add) {
        for (int i = 0; i < samples; i++) {
            std::vector<float> row = noise.Sample();
            add(row);
            Feed(row);
        }
    }
    // A narrowband packet in one row: `peak_dbm` in its centre bin,
    // `side_dbm` in the bins either side, over the noise.
    void AddPacket(std::vector<float>& row, int centre, double peak_dbm, double side_dbm) {
        noise.AddSignal(row, centre - 1, side_dbm);
        noise.AddSignal(row, centre, peak_dbm);
        noise.AddSignal(row, centre + 1, side_dbm);
    }
    // The same packet over `samples` samples.
    void Packet(int centre, double peak_dbm, double side_dbm, int samples) {
        Rows(samples, [&](std::vector<float>& row) { AddPacket(row, centre, peak_dbm, side_dbm); });
    }
};

}  // namespace refinedtest

#endif
