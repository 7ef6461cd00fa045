// Builds spectrum datagrams from intended per-bin powers in dBm, encoding raw
// magnitudes and rssi so that the daemon's conversion gives the powers back
// (within rounding), and packs samples 14 to a datagram.
#ifndef TESSARON_TESTS_E2E_STREAM_BUILDER_H
#define TESSARON_TESTS_E2E_STREAM_BUILDER_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "fft_data.h"

using PowerRow = std::array<float, 56>;  // dBm per bin

inline PowerRow FlatRow(float dbm) {
    PowerRow row;
    row.fill(dbm);
    return row;
}

// rssi carries the total power; the magnitudes carry each bin's share.
inline void EncodeSample(uint16_t freq, uint64_t ts, const PowerRow& dbm, spectrum_fft* s) {
    memset(s, 0, sizeof(*s));
    s->freq = freq;
    s->ts = ts;
    double total_mw = 0.0;
    double peak_mw = 0.0;
    for (const float p : dbm) {
        const double mw = pow(10.0, p / 10.0);
        total_mw += mw;
        peak_mw = std::max(peak_mw, mw);
    }
    const long rssi = lround(10.0 * log10(total_mw)) + 95;
    s->rssi = static_cast<int8_t>(std::clamp(rssi, -128L, 127L));
    for (int i = 0; i < 56; i++) {
        const double mw = pow(10.0, dbm[i] / 10.0);
        s->samples[2 + i] = static_cast<uint8_t>(lround(255.0 * sqrt(mw / peak_mw)));
    }
}

class StreamBuilder {
public:
    void Add(uint16_t freq, uint64_t ts, const PowerRow& dbm) {
        if (current_.count == CONST_FFT_SAMPLES_PER_DATAGRAM) {
            Flush();
        }
        EncodeSample(freq, ts, dbm, &current_.samples[current_.count]);
        current_.count++;
    }

    // Samples `rows` rows `step_us` apart from t0; returns the next time.
    uint64_t AddRun(uint16_t freq, uint64_t t0, int rows, uint64_t step_us, const PowerRow& dbm) {
        for (int i = 0; i < rows; i++) {
            Add(freq, t0 + static_cast<uint64_t>(i) * step_us, dbm);
        }
        return t0 + static_cast<uint64_t>(rows) * step_us;
    }

    // The wire form of every datagram so far, the last one included.
    std::vector<std::vector<uint8_t>> Take() {
        Flush();
        std::vector<std::vector<uint8_t>> out;
        out.swap(datagrams_);
        return out;
    }

private:
    void Flush() {
        if (current_.count == 0) {
            return;
        }
        current_.seq_num = seq_++;
        std::vector<uint8_t> wire(FFT_DATA_WIRE_SIZE);
        EncodeFftData(current_, wire.data());
        datagrams_.push_back(std::move(wire));
        memset(&current_, 0, sizeof(current_));
    }

    fft_data current_{};
    uint64_t seq_ = 0;
    std::vector<std::vector<uint8_t>> datagrams_;
};

#endif
