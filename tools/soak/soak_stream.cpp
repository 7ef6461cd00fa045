#include "soak_stream.h"

#include <cstring>

#include "card_model.h"
#include "emitters.h"
#include "script_utils_module.h"

namespace {

constexpr uint64_t kHopperCycleUs = 120000000;
constexpr uint64_t kHopperOnUs = 90000000;
constexpr uint64_t kCardClockSpan = MAX_MAC_TIMESTAMP_VAL + 1ULL;

}  // namespace

SoakStream::SoakStream(const SoakStreamConfig& config, uint64_t total_us)
    : config_(config),
      scenario_(std::make_unique<sim::Scenario>()),
      rng_(config.seed | 1u),
      card_base_(kCardClockSpan - config.card_wraps_after_us) {
    scenario_->name = "soak";
    scenario_->duration_s = static_cast<double>(total_us) / 1e6;
    // A fresh link every two minutes: each emitter has one on-interval.
    for (uint64_t on = 0; on < total_us; on += kHopperCycleUs) {
        scenario_->emitters.push_back(std::make_unique<sim::BtVoiceLink>(
            on, on + kHopperOnUs, -50.0, config.seed + static_cast<uint32_t>(on / kHopperCycleUs)));
    }
    scenario_->emitters.push_back(sim::MakeContinuous(sim::ContinuousKind::kAnalogPhone, 2430.0, 0,
                                                      total_us, -55.0, config.seed));
    scenario_->emitters.push_back(
        std::make_unique<sim::MicrowaveOven>(2455.0, 0, total_us, -45.0, config.seed));
}

uint32_t SoakStream::Rand() {
    rng_ ^= rng_ << 13;
    rng_ ^= rng_ >> 17;
    rng_ ^= rng_ << 5;
    return rng_;
}

// The simulated card's time counts capture time from a fixed start; the
// soak's card starts near the top of its 32-bit clock and is reloaded now
// and then, as a driver restart does.
uint64_t SoakStream::CardTime(uint64_t sim_ts) {
    const uint64_t start = sim::CardStartTsf(false);
    const uint64_t elapsed = sim_ts > start ? sim_ts - start : 0;
    if (elapsed >= last_reset_us_ + config_.card_reset_every_us) {
        card_base_ = 5000 + Rand() % 100000;
        last_reset_us_ = elapsed;
        wraps_since_reset_ = 0;
        counts_.card_resets++;
    }
    // The simulated card jitters its samples by a microsecond: at the
    // shortest steps one may land just before the reset.
    const uint64_t ts = card_base_ + (elapsed > last_reset_us_ ? elapsed - last_reset_us_ : 0);
    if (ts / kCardClockSpan > wraps_since_reset_) {
        wraps_since_reset_ = ts / kCardClockSpan;
        counts_.card_wraps++;
    }
    return ts % kCardClockSpan;
}

void SoakStream::Restamp(fft_data& d) {
    for (int i = 0; i < d.count; i++) {
        spectrum_fft& s = d.samples[i];
        if (last_freq_ != 0 && s.freq != last_freq_) {
            counts_.channel_changes++;
        }
        last_freq_ = s.freq;
        s.ts = CardTime(s.ts);
    }
}

size_t SoakStream::Fault(fft_data& d) {
    // Faults that name a sample aim inside the datagram: the last one of a
    // dwell may hold only a few.
    const auto sample = [&d](int i) -> spectrum_fft& { return d.samples[i % d.count]; };
    const auto kind = static_cast<SoakFault>(fault_kind_++ % kSoakFaultKinds);
    counts_.faults[kind]++;
    switch (kind) {
        case kWrongSize: {
            const size_t len = Rand() % (sizeof(wire_) + 1);
            return len == FFT_DATA_WIRE_SIZE ? len - 1 : len;
        }
        case kNegativeCount:
            d.count = -1;
            break;
        case kCountOverOne:
            d.count = 15;
            break;
        case kHugeCount:
            d.count = 2000000;
            break;
        case kOffCentre:
            sample(5).freq = static_cast<uint16_t>(sample(5).freq + 3);
            break;
        case kFlatBins:
            memset(sample(3).samples, 0, sizeof(d.samples[0].samples));
            memset(sample(9).samples, 255, sizeof(d.samples[0].samples));
            break;
        case kRepeatedTime:
            sample(7).ts = sample(6).ts;
            break;
        default:
            sample(10).ts = sample(10).ts > 50000 ? sample(10).ts - 50000 : 0;
            break;
    }
    return FFT_DATA_WIRE_SIZE;
}

void SoakStream::Consume(const uint8_t* sim_wire, uint64_t elapsed_us, const Consumer& consume) {
    DecodeFftData(sim_wire, record_);
    Restamp(record_);
    counts_.datagrams++;
    size_t len = FFT_DATA_WIRE_SIZE;
    if (config_.fault_every > 0 &&
        counts_.datagrams % static_cast<uint64_t>(config_.fault_every) == 0) {
        len = Fault(record_);
    }
    EncodeFftData(record_, wire_);
    consume(wire_, len, elapsed_us);
}

void SoakStream::Run(const Consumer& consume) {
    sim::CardConfig card;
    card.interval_us = static_cast<double>(config_.sample_step_us);
    sim::RunScenario(*scenario_, card, config_.seed,
                     [&](const uint8_t* sim_wire, size_t, int64_t sec, int64_t usec) {
                         const int64_t host_us = (sec - sim::SIM_EPOCH_S) * 1000000 + usec;
                         Consume(sim_wire, static_cast<uint64_t>(host_us), consume);
                         return true;
                     });
}
