#include "stream_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

PowerRow FlatRow(float dbm) {
    PowerRow row;
    row.fill(dbm);
    return row;
}

void EncodeSample(uint16_t freq, uint64_t ts, const PowerRow& dbm, spectrum_fft* s) {
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

void StreamBuilder::Add(uint16_t freq, uint64_t ts, const PowerRow& dbm) {
    if (current_.count == CONST_FFT_SAMPLES_PER_DATAGRAM) {
        Flush();
    }
    EncodeSample(freq, ts, dbm, &current_.samples[current_.count]);
    current_.count++;
}

uint64_t StreamBuilder::AddRun(uint16_t freq, uint64_t t0, int rows, uint64_t step_us,
                               const PowerRow& dbm) {
    for (int i = 0; i < rows; i++) {
        Add(freq, t0 + static_cast<uint64_t>(i) * step_us, dbm);
    }
    return t0 + static_cast<uint64_t>(rows) * step_us;
}

std::vector<std::vector<uint8_t>> StreamBuilder::Take() {
    Flush();
    std::vector<std::vector<uint8_t>> out;
    out.swap(datagrams_);
    return out;
}

void StreamBuilder::Flush() {
    if (current_.count == 0) {
        return;
    }
    current_.seq_num = seq_++;
    std::vector<uint8_t> wire(FFT_DATA_WIRE_SIZE);
    EncodeFftData(current_, wire.data());
    datagrams_.push_back(std::move(wire));
    memset(&current_, 0, sizeof(current_));
}
