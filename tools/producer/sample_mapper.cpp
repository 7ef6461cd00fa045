#include "sample_mapper.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace relay {

namespace {

uint32_t SumOfSquares(const uint8_t* bins, int dc_value) {
    uint32_t sum = 0;
    for (size_t i = 0; i < HT20_BINS; i++) {
        const uint32_t b =
            static_cast<int>(i) == CARD_DC_BIN ? static_cast<uint32_t>(dc_value) : bins[i];
        sum += b * b;
    }
    return sum;
}

}  // namespace

int8_t DaemonRssi(int noise_dbm, int rssi_db, const uint8_t* bins, bool* clamped) {
    // The daemon sees the centre bin as the mean of its neighbours, so its
    // sum of squares differs from the card's by D = 10 log10(card / daemon)
    // dB, which would shift every bin by D. Adding c = -ceil(D) leaves a
    // residual D + c in (-1, 0]; the daemon's truncation towards the weaker
    // whole dB then adds [0, 1), so each bin lands within 1 dB of the card's
    // absolute power. max_exp scales every bin alike and cancels out.
    const uint32_t card_sum = SumOfSquares(bins, bins[CARD_DC_BIN]);
    const uint32_t daemon_sum =
        SumOfSquares(bins, (bins[CARD_DC_BIN - 1] + bins[CARD_DC_BIN + 1]) / 2);
    int correction = 0;
    if (card_sum > 0 && daemon_sum > 0 && card_sum != daemon_sum) {
        const double d = 10.0 * std::log10(static_cast<double>(card_sum) / daemon_sum);
        correction = -static_cast<int>(std::ceil(d));
    }
    const int field = noise_dbm + rssi_db - DAEMON_RSSI_REFERENCE_DBM + correction;
    *clamped = field < INT8_MIN || field > INT8_MAX;
    return static_cast<int8_t>(field < INT8_MIN ? INT8_MIN : (field > INT8_MAX ? INT8_MAX : field));
}

int SampleMapper::NoiseFloor(int8_t reported) {
    if (noise_override_) {
        return *noise_override_;
    }
    if (reported >= PLAUSIBLE_NOISE_LOW_DBM && reported <= PLAUSIBLE_NOISE_HIGH_DBM) {
        return reported;
    }
    counters_.implausible_noise++;
    if (!warned_noise_ && !quiet_) {
        fprintf(stderr,
                "Warning!! card reports a noise floor of %d dBm: using %d dBm instead (give "
                "--noise-floor DBM to set it); further such reports are counted silently\n",
                static_cast<int>(reported), DEFAULT_NOISE_FLOOR_DBM);
    }
    warned_noise_ = true;
    return DEFAULT_NOISE_FLOOR_DBM;
}

void SampleMapper::MapReport(const Ht20Report& report, spectrum_fft& out) {
    memset(&out, 0, sizeof(out));
    out.freq = report.freq;
    out.ts = report.tsf;
    out.width = 20;
    out.sample_bin_cnt = HT20_BINS;
    out.start_index = SAMPLE_FIRST_ENTRY;
    out.datalen = HT20_PAYLOAD_SIZE;
    memcpy(out.samples + SAMPLE_FIRST_ENTRY, report.bins, HT20_BINS);
    bool clamped = false;
    const int noise = NoiseFloor(report.noise);
    out.rssi = DaemonRssi(noise, report.rssi, report.bins, &clamped);
    if (clamped) {
        counters_.rssi_clamped++;
        if (!warned_clamp_ && !quiet_) {
            fprintf(stderr,
                    "Warning!! report power %d dBm does not fit the datagram's rssi field: "
                    "clamped; further such reports are counted silently\n",
                    noise + report.rssi);
        }
        warned_clamp_ = true;
    }
}

DatagramBatcher::DatagramBatcher(Emit emit) : emit_(std::move(emit)), pending_(), wire_() {}

spectrum_fft& DatagramBatcher::NextSlot() {
    return pending_.samples[pending_.count];
}

void DatagramBatcher::Commit() {
    pending_.count++;
    if (pending_.count == CONST_FFT_SAMPLES_PER_DATAGRAM) {
        Flush();
    }
}

void DatagramBatcher::Flush() {
    if (pending_.count == 0) {
        return;
    }
    // Unused sample slots go out as zeros.
    for (int i = pending_.count; i < CONST_FFT_SAMPLES_PER_DATAGRAM; i++) {
        memset(&pending_.samples[i], 0, sizeof(spectrum_fft));
    }
    EncodeFftData(pending_, wire_);
    const uint64_t last_ts = pending_.samples[pending_.count - 1].ts;
    datagrams_++;
    pending_.count = 0;
    pending_.seq_num++;
    emit_(wire_, sizeof(wire_), last_ts);
}

}  // namespace relay
