#include "soak_stream.h"

#include <algorithm>
#include <cstring>

#include "script_utils_module.h"

namespace {

constexpr uint16_t kCentres[6] = {2412, 2422, 2437, 2442, 2452, 2462};
constexpr uint64_t kHopPeriodUs = 3750;  // six Bluetooth slots
constexpr uint64_t kSlotUs = 625;
constexpr uint64_t kPulseUs = 400;
constexpr uint64_t kMainsCycleUs = 16667;
constexpr float kBinsPerMhz = 3.2f;
constexpr int kFirstBin = 2;
constexpr int kBins = 56;

// Raw magnitude of a bin relative to the noise bins (1..3): 20 log10 of the
// ratio is how far above the floor the bin shows.
constexpr uint8_t kStrong = 180;
constexpr uint8_t kMedium = 60;

// Card bin (2..57) of an absolute frequency on the current channel, or -1.
int BinOf(float mhz, uint16_t centre) {
    const int bin = kFirstBin + kBins / 2 + static_cast<int>((mhz - centre) * kBinsPerMhz);
    return bin >= kFirstBin && bin < kFirstBin + kBins ? bin : -1;
}

}  // namespace

SoakStream::SoakStream(const SoakStreamConfig& config)
    : config_(config), rng_(config.seed | 1u), card_ts_(MAX_MAC_TIMESTAMP_VAL - 120000000ULL) {}

uint32_t SoakStream::Rand() {
    rng_ ^= rng_ << 13;
    rng_ ^= rng_ >> 17;
    rng_ ^= rng_ << 5;
    return rng_;
}

void SoakStream::FillSample(spectrum_fft& s) {
    elapsed_us_ += config_.sample_step_us;
    card_ts_ += config_.sample_step_us;
    if (card_ts_ > MAX_MAC_TIMESTAMP_VAL) {
        card_ts_ -= MAX_MAC_TIMESTAMP_VAL + 1;  // the card's 32-bit clock wraps
        counts_.card_wraps++;
    }
    if (elapsed_us_ - last_reset_us_ >= config_.card_reset_every_us) {
        card_ts_ = 5000 + Rand() % 100000;  // driver reloaded: clock restarts
        last_reset_us_ = elapsed_us_;
        counts_.card_resets++;
    }
    if (elapsed_us_ - channel_start_us_ >= config_.channel_dwell_us) {
        channel_ = (channel_ + 1) % 6;
        channel_start_us_ = elapsed_us_;
        counts_.channel_changes++;
    }
    const uint16_t centre = kCentres[channel_];

    memset(&s, 0, sizeof(s));
    s.freq = centre;
    s.ts = card_ts_;
    s.width = 20;
    s.rssi = 3;  // noise only: about -92 dBm for the whole report
    s.sample_bin_cnt = kBins;
    s.datalen = 100;
    for (int b = 0; b < CONST_FFT_RAW_BINS; b++) {
        s.samples[b] = static_cast<uint8_t>(1 + Rand() % 3);
    }

    // Hopper: a pulse in the first and in the second slot of each period.
    if (elapsed_us_ - hop_start_us_ >= kHopPeriodUs) {
        hop_start_us_ = elapsed_us_;
        hop_bin_ = static_cast<int>(Rand() % 79);  // 1 MHz channels from 2402 MHz
    }
    const uint64_t in_period = elapsed_us_ - hop_start_us_;
    // The hopper leaves for the last 30 s of every 2 minutes, so that the
    // tracker ends it, logs it and finds it again.
    const bool hopper_present = (elapsed_us_ % 120000000) < 90000000;
    const bool hop_on =
        hopper_present &&
        (in_period < kPulseUs || (in_period >= kSlotUs && in_period < kSlotUs + kPulseUs));
    if (hop_on) {
        const int bin = BinOf(2402.0f + static_cast<float>(hop_bin_), centre);
        if (bin >= 0) {
            s.rssi = 35;
        }
        for (int b = bin - 1; bin >= 0 && b <= bin + 1; b++) {
            if (b >= kFirstBin && b < kFirstBin + kBins) {
                s.samples[b] = kStrong;
            }
        }
    }
    // Narrow carrier at 2430 MHz, always on.
    const int carrier = BinOf(2430.0f, centre);
    if (carrier >= 0) {
        s.rssi = std::max<int8_t>(s.rssi, 20);
        s.samples[carrier] = kMedium;
        if (carrier + 1 < kFirstBin + kBins) {
            s.samples[carrier + 1] = kMedium / 2;
        }
    }
    // Microwave oven around 2455..2465 MHz, on for half of each mains cycle.
    if ((elapsed_us_ % kMainsCycleUs) < kMainsCycleUs / 2) {
        for (float mhz = 2455.0f; mhz <= 2465.0f; mhz += 0.3125f) {
            const int b = BinOf(mhz, centre);
            if (b >= 0) {
                s.rssi = 40;
                s.samples[b] = static_cast<uint8_t>(kMedium + Rand() % 40);
            }
        }
    }
}

size_t SoakStream::Fault(uint8_t* wire) {
    fft_data d;
    memset(&d, 0, sizeof(d));
    d.count = CONST_FFT_SAMPLES_PER_DATAGRAM;
    for (int i = 0; i < d.count; i++) {
        FillSample(d.samples[i]);
    }
    counts_.samples += CONST_FFT_SAMPLES_PER_DATAGRAM;
    size_t len = FFT_DATA_WIRE_SIZE;
    switch (fault_kind_++ % 8) {
        case 0:  // wrong size: anything from empty to the whole receive buffer
            len = Rand() % 1401;
            if (len == FFT_DATA_WIRE_SIZE) {
                len--;
            }
            break;
        case 1:
            d.count = -1;
            break;
        case 2:
            d.count = 15;
            break;
        case 3:
            d.count = 2000000;
            break;
        case 4:  // a sample between two channel centres
            d.samples[5].freq = static_cast<uint16_t>(d.samples[5].freq + 3);
            counts_.off_centre++;
            break;
        case 5:
            memset(d.samples[3].samples, 0, sizeof(d.samples[3].samples));
            memset(d.samples[9].samples, 255, sizeof(d.samples[9].samples));
            break;
        case 6:  // the same time twice
            d.samples[7].ts = d.samples[6].ts;
            break;
        default:  // a time from the past
            d.samples[10].ts = d.samples[10].ts > 50000 ? d.samples[10].ts - 50000 : 0;
            break;
    }
    EncodeFftData(d, wire);
    if (len != FFT_DATA_WIRE_SIZE) {
        counts_.wrong_size++;
    } else if (d.count < 0 || d.count > CONST_FFT_SAMPLES_PER_DATAGRAM) {
        counts_.bad_count++;
    } else {
        counts_.good_datagrams++;
    }
    return len;
}

size_t SoakStream::Next(uint8_t* wire) {
    counts_.datagrams++;
    if (config_.fault_every > 0 && ++datagram_index_ % config_.fault_every == 0) {
        return Fault(wire);
    }
    fft_data d;
    memset(&d, 0, sizeof(d));
    d.count = CONST_FFT_SAMPLES_PER_DATAGRAM;
    d.seq_num = counts_.datagrams;
    for (int i = 0; i < d.count; i++) {
        FillSample(d.samples[i]);
    }
    counts_.samples += CONST_FFT_SAMPLES_PER_DATAGRAM;
    counts_.good_datagrams++;
    EncodeFftData(d, wire);
    return FFT_DATA_WIRE_SIZE;
}
