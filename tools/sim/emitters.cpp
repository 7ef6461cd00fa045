#include "emitters.h"

#include "card_model.h"
#include "decibel.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Look-ahead of the burst schedule: enough for the longest exchange.
constexpr uint64_t kScheduleHorizonUs = 20000;

std::string Fmt(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

}  // namespace

Mask Mask::Of(MaskKind kind, double width_mhz, Fluctuation fluctuation, double jitter_db) {
    Mask m;
    m.kind = kind;
    m.width_mhz = width_mhz;
    m.fluctuation = fluctuation;
    m.jitter_db = jitter_db;
    return m;
}

double Mask::Psd(double df) const {
    const double a = std::fabs(df);
    switch (kind) {
        case MaskKind::kGaussian:
            return std::exp(-df * df / (2.0 * width_mhz * width_mhz));
        case MaskKind::kMsk: {
            // MSK spectrum with bit time Tb = 1 / chip rate: main lobe nulls
            // at +-0.75 chip rate, sidelobes falling as f^-4.
            const double x = a / width_mhz;
            const double den = 1.0 - 16.0 * x * x;
            if (std::fabs(den) < 1e-6) {
                return (kPi / 4.0) * (kPi / 4.0);
            }
            const double v = std::cos(2.0 * kPi * x) / den;
            return v * v;
        }
        case MaskKind::kOfdm: {
            // 52 occupied subcarriers over +-8.3 MHz, then the transmitter's
            // filter skirt and the PA's spectral regrowth shoulders.
            double db;
            if (a <= 8.3) {
                db = 0.0;
            } else if (a <= 9.0) {
                db = -20.0 * (a - 8.3) / 0.7;
            } else if (a <= 11.0) {
                db = -20.0 - 12.0 * (a - 9.0) / 2.0;
            } else if (a <= 20.0) {
                db = -32.0 - 8.0 * (a - 11.0) / 9.0;
            } else {
                db = -50.0;
            }
            return DbToPowerRatio(db);
        }
        case MaskKind::kFlat: {
            const double beta = 0.25;
            const double half = width_mhz / 2.0;
            const double lo = half * (1.0 - beta);
            const double hi = half * (1.0 + beta);
            if (a <= lo) {
                return 1.0;
            }
            if (a >= hi) {
                return 0.0;
            }
            return 0.5 * (1.0 + std::cos(kPi * (a - lo) / (hi - lo)));
        }
        case MaskKind::kTone:
            return a < 1e-9 ? 1.0 : 0.0;
    }
    return 0.0;
}

double Mask::Extent() const {
    switch (kind) {
        case MaskKind::kGaussian:
            return 5.5 * width_mhz;
        case MaskKind::kMsk:
            return 2.5 * width_mhz;
        case MaskKind::kOfdm:
            return 22.0;
        case MaskKind::kFlat:
            return width_mhz * 0.625 + 0.2;
        case MaskKind::kTone:
            return 1.5;
    }
    return 0.0;
}

double Mask::Total() const {
    if (total_ < 0.0) {
        const double extent = Extent();
        const double step = 0.001;
        double sum = 0.0;
        for (double f = -extent; f <= extent; f += step) {
            sum += Psd(f) * step;
        }
        total_ = sum;
    }
    return total_;
}

double Mask::FractionInBin(double df) const {
    constexpr double kStep = 0.002;
    const double reach = Extent() + 0.3125;
    if (fraction_table_.empty()) {
        const int n = static_cast<int>(2.0 * reach / kStep) + 2;
        fraction_table_.resize(static_cast<size_t>(n));
        for (int i = 0; i < n; i++) {
            fraction_table_[static_cast<size_t>(i)] =
                static_cast<float>(BinFraction(*this, -reach + i * kStep));
        }
    }
    const double x = (df + reach) / kStep;
    if (x < 0.0 || x >= static_cast<double>(fraction_table_.size() - 1)) {
        return 0.0;
    }
    const size_t i = static_cast<size_t>(x);
    const double w = x - static_cast<double>(i);
    return fraction_table_[i] * (1.0 - w) + fraction_table_[i + 1] * w;
}

double BluetoothChannelMhz(int k) {
    return 2402.0 + k;
}

double ZigbeeChannelMhz(int k) {
    return 2405.0 + 5.0 * (k - 11);
}

double WifiChannelMhz(int n) {
    return 2407.0 + 5.0 * n;
}

Emitter::Emitter(std::string model, std::string display_name, uint64_t on_us, uint64_t off_us,
                 double power_dbm, uint32_t seed)
    : model_(std::move(model)),
      display_name_(std::move(display_name)),
      on_us_(on_us),
      off_us_(off_us),
      power_dbm_(power_dbm),
      rng_(seed) {}

void Emitter::EmissionsAt(uint64_t t, std::vector<Emission>& out) {
    if (t < on_us_ || t >= off_us_) {
        return;
    }
    Radiate(t, out);
}

BurstEmitter::BurstEmitter(std::string model, std::string display_name, const Mask& mask,
                           uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed)
    : Emitter(std::move(model), std::move(display_name), on_us, off_us, power_dbm, seed),
      mask_(mask) {}

ChannelTraffic::ChannelTraffic(std::string model, std::string display_name, const Mask& mask,
                               double centre_mhz, double half_width_mhz, int channel,
                               double airtime, uint64_t on_us, uint64_t off_us, double power_dbm,
                               uint32_t seed)
    : BurstEmitter(std::move(model), std::move(display_name), mask, on_us, off_us, power_dbm, seed),
      centre_mhz_(centre_mhz),
      half_width_mhz_(half_width_mhz),
      channel_(channel),
      airtime_(airtime) {}

void BurstEmitter::Radiate(uint64_t t, std::vector<Emission>& out) {
    if (!started_) {
        started_ = true;
        next_step_ = OnUs();
    }
    while (next_step_ <= t + kScheduleHorizonUs) {
        const size_t before = queue_.size();
        next_step_ = Schedule(next_step_, queue_);
        if (timing_jitter_us_ > 0) {
            // One offset per scheduling step keeps a packet and its reply
            // apart by their nominal gap, and the queue in time order.
            std::uniform_int_distribution<int64_t> shift(-static_cast<int64_t>(timing_jitter_us_),
                                                         static_cast<int64_t>(timing_jitter_us_));
            const int64_t d = shift(Rng());
            for (size_t i = before; i < queue_.size(); i++) {
                Burst& b = queue_[i];
                const uint64_t len = b.end - b.start;
                b.start =
                    static_cast<uint64_t>(std::max<int64_t>(0, static_cast<int64_t>(b.start) + d));
                b.end = b.start + len;
            }
        }
    }
    while (!queue_.empty() && queue_.front().end <= t) {
        queue_.pop_front();
    }
    for (const Burst& b : queue_) {
        if (b.start > t) {
            break;
        }
        if (t < b.end) {
            out.push_back(Emission{b.centre_mhz, b.power_dbm, &mask_});
        }
    }
}

// ---------------------------------------------------------------- Bluetooth

namespace {

// 1 Mbit/s GFSK, BT = 0.5, h = 0.32: about 1 MHz at -20 dB.
Mask GfskMask(double sigma_mhz = 0.2) {
    return Mask::Of(MaskKind::kGaussian, sigma_mhz, Fluctuation::kSteady);
}

// Next slot boundary of a piconet clock at or after `t`.
uint64_t SlotAtOrAfter(uint64_t t) {
    return (t + BT_SLOT_US - 1) / BT_SLOT_US;
}

}  // namespace

BtVoiceLink::BtVoiceLink(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
                         int slots_per_pair, uint64_t packet_us, double retransmit_share)
    : BandHopper("bt-voice", "Bluetooth_Streaming", GfskMask(), on_us, off_us, power_dbm, seed),
      slots_per_pair_(static_cast<uint64_t>(std::max(slots_per_pair, 2))),
      packet_us_(std::min<uint64_t>(packet_us, BT_SLOT_US)),
      retransmit_share_(retransmit_share) {}

uint64_t BtVoiceLink::Schedule(uint64_t from, std::deque<Burst>& queue) {
    // HV3 reserves slot pairs every 6 slots (3.75 ms), HV2 every 4, HV1
    // every 2; a new hop per slot.
    uint64_t slot = std::max(slot_, SlotAtOrAfter(from));
    slot += (slots_per_pair_ - slot % slots_per_pair_) % slots_per_pair_;
    std::uniform_int_distribution<int> hop(0, 78);
    std::normal_distribution<double> slave_level(-3.0, 1.0);
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    // The retransmission window needs two free slots before the next
    // reserved pair.
    const bool again =
        retransmit_share_ > 0.0 && slots_per_pair_ >= 4 && pick(Rng()) < retransmit_share_;
    for (int i = 0; i < (again ? 4 : 2); i++) {
        const uint64_t start = (slot + i) * BT_SLOT_US;
        const double level = PowerDbm() + (i % 2 == 0 ? 0.0 : slave_level(Rng()));
        queue.push_back(Burst{start, start + packet_us_, BluetoothChannelMhz(hop(Rng())), level});
    }
    slot_ = slot + slots_per_pair_;
    return slot_ * BT_SLOT_US;
}

std::string BtVoiceLink::Parameters() const {
    const std::string type =
        retransmit_share_ > 0.0
            ? "eSCO, " + Fmt(retransmit_share_ * 100) + "% of intervals retransmitted in slots 2,3"
            : "HV" + std::to_string(slots_per_pair_ / 2);
    return "GFSK 1 Mbit/s sigma 0.2 MHz; 79 hop channels 2402-2480 MHz, 1600 hops/s; " + type +
           ": " + std::to_string(packet_us_) + " us master+slave packets in slots 0,1 of every " +
           std::to_string(slots_per_pair_) + " (" + std::to_string(slots_per_pair_ * BT_SLOT_US) +
           " us); slave 3 dB weaker; " + Fmt(PowerDbm()) + " dBm";
}

BtDataLink::BtDataLink(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
                       double dh5_share, double dh3_share, int avoid_lo, int avoid_hi)
    : BandHopper("bt-data", "Bluetooth", GfskMask(), on_us, off_us, power_dbm, seed),
      dh5_share_(dh5_share),
      dh3_share_(dh3_share),
      avoid_lo_(avoid_lo),
      avoid_hi_(avoid_hi) {
    for (int k = 0; k <= 78; k++) {
        if (k < avoid_lo_ || k > avoid_hi_) {
            channels_.push_back(k);
        }
    }
}

double BtDataLink::HopMhz() {
    std::uniform_int_distribution<int> hop(0, static_cast<int>(channels_.size()) - 1);
    return BluetoothChannelMhz(channels_[static_cast<size_t>(hop(Rng()))]);
}

uint64_t BtDataLink::Schedule(uint64_t from, std::deque<Burst>& queue) {
    uint64_t slot = std::max(slot_, SlotAtOrAfter(from));
    slot += slot % 2;  // master transmits in even slots
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    const double r = pick(Rng());
    int slots;
    uint64_t length;
    if (r < dh5_share_) {
        slots = 5;  // DH5
        length = 2871;
    } else if (r < dh5_share_ + dh3_share_) {
        slots = 3;  // DH3
        length = 1626;
    } else {
        slots = 1;  // POLL
        length = 126;
    }
    const uint64_t start = slot * BT_SLOT_US;
    queue.push_back(Burst{start, start + length, HopMhz(), PowerDbm()});
    // Slave answers in the next slot with a NULL (126 us) or a DH1 (366 us).
    const uint64_t reply = (slot + slots) * BT_SLOT_US;
    const uint64_t reply_len = pick(Rng()) < 0.8 ? 126 : 366;
    queue.push_back(Burst{reply, reply + reply_len, HopMhz(), PowerDbm() - 3.0});
    slot_ = slot + slots + 1;
    return slot_ * BT_SLOT_US;
}

std::string BtDataLink::Parameters() const {
    const std::string hops = channels_.size() == 79
                                 ? "79 channels"
                                 : std::to_string(channels_.size()) +
                                       " channels (adaptive hopping leaves out " +
                                       Fmt(BluetoothChannelMhz(avoid_lo_)) + "-" +
                                       Fmt(BluetoothChannelMhz(avoid_hi_)) + " MHz)";
    return "GFSK sigma 0.2 MHz, " + hops + "; master DH5 2871 us (" + Fmt(dh5_share_ * 100) +
           "%), DH3 1626 us (" + Fmt(dh3_share_ * 100) + "%) or POLL 126 us (" +
           Fmt((1.0 - dh5_share_ - dh3_share_) * 100) +
           "%) in even slots, slave NULL 126 us / DH1 366 us in the next slot, each packet on "
           "the hop of its first slot; " +
           Fmt(PowerDbm()) + " dBm";
}

// -------------------------------------------------------------- FHSS phone

FhssPhone::FhssPhone(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
                     const FhssPhoneModel& model)
    : BandHopper("fhss-phone", "FHSS_Phone_(Handset)", GfskMask(0.22), on_us, off_us, power_dbm,
                 seed),
      model_(model) {}

uint64_t FhssPhone::Schedule(uint64_t from, std::deque<Burst>& queue) {
    const uint64_t frame_us = model_.frame_us;
    const uint64_t start = (from + frame_us - 1) / frame_us * frame_us;
    const uint64_t handset = start + frame_us / 2;
    std::uniform_int_distribution<int> hop(0, model_.channels - 1);
    const double f = 2402.0 + hop(Rng()) * model_.spacing_mhz;
    queue.push_back(Burst{start, start + model_.burst_us, f, PowerDbm()});
    queue.push_back(Burst{handset, handset + model_.burst_us, f, PowerDbm() - 4.0});
    return start + frame_us;
}

std::string FhssPhone::Parameters() const {
    return "GFSK sigma 0.22 MHz; " + std::to_string(model_.channels) + " channels " +
           Fmt(model_.spacing_mhz) + " MHz apart from 2402 MHz, one hop per " +
           Fmt(static_cast<double>(model_.frame_us) / 1000.0) + " ms frame; base burst " +
           std::to_string(model_.burst_us) + " us at frame start, handset burst " +
           std::to_string(model_.frame_us / 2) + " us later on the same frequency (4 dB weaker); " +
           Fmt(PowerDbm()) + " dBm";
}

// -------------------------------------------------------------------- Xbox

XboxController::XboxController(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed)
    : BandHopper("xbox", "XBOX_Console", Mask::Of(MaskKind::kFlat, 1.4, Fluctuation::kSteady, 0.8),
                 on_us, off_us, power_dbm, seed) {}

uint64_t XboxController::Schedule(uint64_t from, std::deque<Burst>& queue) {
    constexpr uint64_t kPeriod = 4000;
    const uint64_t start = (from + kPeriod - 1) / kPeriod * kPeriod;
    std::uniform_int_distribution<int> hop(0, 39);
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    const uint64_t length = pick(Rng()) < 0.7 ? 270 : 384;
    queue.push_back(Burst{start, start + length, 2402.0 + 2.0 * hop(Rng()), PowerDbm()});
    return start + kPeriod;
}

std::string XboxController::Parameters() const {
    return "flat 1.4 MHz (raised-cosine edges, 5 card bins); 40 channels on a 2 MHz grid "
           "2402-2480 MHz; one packet per 4 ms, 270 us (70%) or 384 us (30%); " +
           Fmt(PowerDbm()) + " dBm";
}

// ------------------------------------------------------------------ Zigbee

ZigbeeNetwork::ZigbeeNetwork(int channel, double airtime, uint64_t on_us, uint64_t off_us,
                             double power_dbm, uint32_t seed)
    // 2 Mchip/s
    : ChannelTraffic("zigbee", "Zigbee", Mask::Of(MaskKind::kMsk, 2.0, Fluctuation::kSteady),
                     ZigbeeChannelMhz(channel), 1.0, channel, airtime, on_us, off_us, power_dbm,
                     seed) {}

uint64_t ZigbeeNetwork::Schedule(uint64_t from, std::deque<Burst>& queue) {
    // 250 kbit/s: 32 us per byte; PHY header 6 bytes; ACK 11 bytes after a
    // 192 us turnaround.
    std::uniform_int_distribution<int> payload(20, 127);
    const uint64_t frame = static_cast<uint64_t>(payload(Rng()) + 6) * 32;
    const uint64_t ack_start = from + frame + 192;
    const uint64_t ack_end = ack_start + 352;
    const double f = ZigbeeChannelMhz(channel_);
    queue.push_back(Burst{from, from + frame, f, PowerDbm()});
    queue.push_back(Burst{ack_start, ack_end, f, PowerDbm() - 2.0});
    // Idle time so that the long-run airtime matches.
    const double busy = static_cast<double>(frame + 352);
    const double mean_idle = std::max(busy / airtime_ - busy - 192.0, 320.0);
    std::exponential_distribution<double> idle(1.0 / mean_idle);
    return ack_end + 320 + static_cast<uint64_t>(idle(Rng()));
}

std::string ZigbeeNetwork::Parameters() const {
    return "O-QPSK half-sine (MSK) 2 Mchip/s, channel " + std::to_string(channel_) + " at " +
           Fmt(ZigbeeChannelMhz(channel_)) +
           " MHz; data frames 20-127 bytes (0.83-4.26 ms) + 352 us ACK after 192 us; airtime " +
           Fmt(airtime_ * 100) + "%; " + Fmt(PowerDbm()) + " dBm";
}

// ------------------------------------------------------------------- Wi-Fi

WifiTraffic::WifiTraffic(int channel, double airtime, uint64_t on_us, uint64_t off_us,
                         double power_dbm, uint32_t seed)
    : ChannelTraffic(airtime > 0.2 ? "wifi-heavy" : "wifi-light", "",
                     Mask::Of(MaskKind::kOfdm, 16.6, Fluctuation::kNoiseLike),
                     WifiChannelMhz(channel), 10.0, channel, airtime, on_us, off_us, power_dbm,
                     seed) {}

uint64_t WifiTraffic::Schedule(uint64_t from, std::deque<Burst>& queue) {
    std::uniform_int_distribution<int> length(100, 2000);
    const uint64_t frame = static_cast<uint64_t>(length(Rng()));
    const double f = WifiChannelMhz(channel_);
    queue.push_back(Burst{from, from + frame, f, PowerDbm()});
    const uint64_t ack = from + frame + 16;  // SIFS
    queue.push_back(Burst{ack, ack + 44, f, PowerDbm() - 6.0});
    const double busy = static_cast<double>(frame + 60);
    // DIFS + backoff (9 us slots, CW 15) + idle for the offered load.
    const double mean_idle = std::max(busy / airtime_ - busy - 100.0, 1.0);
    std::exponential_distribution<double> idle(1.0 / mean_idle);
    std::uniform_int_distribution<int> backoff(0, 15);
    return ack + 44 + 34 + 9 * backoff(Rng()) + static_cast<uint64_t>(idle(Rng()));
}

std::string WifiTraffic::Parameters() const {
    return "802.11 OFDM channel " + std::to_string(channel_) + " (" +
           Fmt(WifiChannelMhz(channel_)) +
           " MHz), 16.6 MHz occupied, skirts -20 dB at 9 MHz, -32 dB at 11 MHz; frames 0.1-2 ms "
           "+ 44 us ACK after SIFS; airtime " +
           Fmt(airtime_ * 100) + "%; " + Fmt(PowerDbm()) + " dBm";
}

// --------------------------------------------------------------- Microwave

MicrowaveOven::MicrowaveOven(double base_mhz, uint64_t on_us, uint64_t off_us, double power_dbm,
                             uint32_t seed, double mains_hz, double sweep_mhz, bool full_wave)
    : Emitter("microwave", "Microwave_Oven", on_us, off_us, power_dbm, seed),
      base_mhz_(base_mhz),
      sweep_mhz_(sweep_mhz),
      full_wave_(full_wave),
      // The period of the on-phases: the mains cycle, or its half.
      mains_period_us_(1e6 / mains_hz / (full_wave ? 2.0 : 1.0)),
      on_phase_us_((full_wave ? FULL_WAVE_ON_FRACTION : ON_FRACTION) * 1e6 / mains_hz /
                   (full_wave ? 2.0 : 1.0)) {
    std::uniform_real_distribution<double> phase(0.0, mains_period_us_);
    mains_phase_us_ = phase(Rng());
    // Instantaneous line about 0.6 MHz wide.
    mask_ = Mask::Of(MaskKind::kGaussian, 0.25, Fluctuation::kSteady, 0.5);
}

void MicrowaveOven::Radiate(uint64_t t, std::vector<Emission>& out) {
    const double x = static_cast<double>(t) + mains_phase_us_;
    const int64_t cycle = static_cast<int64_t>(x / mains_period_us_);
    const double phase = x - static_cast<double>(cycle) * mains_period_us_;
    if (cycle != cycle_) {
        // The starting frequency wanders from one on-phase to the next with
        // the cavity load and the magnetron's temperature.
        std::normal_distribution<double> wander(0.0, 0.3);
        cycle_start_mhz_ = cycle_ < 0 ? base_mhz_ : cycle_start_mhz_ + wander(Rng());
        cycle_start_mhz_ = std::clamp(cycle_start_mhz_, base_mhz_ - 1.0, base_mhz_ + 1.0);
        cycle_ = cycle;
    }
    if (phase >= on_phase_us_) {
        return;
    }
    const double envelope = std::sin(kPi * phase / on_phase_us_);
    std::normal_distribution<double> fm(0.0, 0.03);
    const double f = cycle_start_mhz_ + sweep_mhz_ * envelope + fm(Rng());
    const double level = PowerDbm() + 10.0 * std::log10(std::max(envelope, 1e-3));
    out.push_back(Emission{f, level, &mask_});
}

std::string MicrowaveOven::Parameters() const {
    const double mains_hz = 1e6 / mains_period_us_ / (full_wave_ ? 2.0 : 1.0);
    return Fmt(std::round(mains_hz)) + " Hz mains" + (full_wave_ ? ", full-wave" : "") +
           ", on-phase " + Fmt(std::round(on_phase_us_ / 10) / 100) + " ms of every " +
           Fmt(std::round(mains_period_us_ / 10) / 100) + " ms (" +
           Fmt(std::round(100 * on_phase_us_ / mains_period_us_)) +
           "%); power follows the half-sine "
           "of the anode current; carrier line sigma 0.25 MHz rises by " +
           Fmt(sweep_mhz_) + " MHz and falls back within each on-phase from a start near " +
           Fmt(base_mhz_) + " MHz that wanders 0.3 MHz per cycle; peak " + Fmt(PowerDbm()) + " dBm";
}

// -------------------------------------------------------------- Continuous

ContinuousEmitter::ContinuousEmitter(std::string model, std::string display_name, double centre_mhz,
                                     const Mask& mask, uint64_t on_us, uint64_t off_us,
                                     double power_dbm, uint32_t seed, std::string parameters)
    : Emitter(std::move(model), std::move(display_name), on_us, off_us, power_dbm, seed),
      centre_mhz_(centre_mhz),
      mask_(mask),
      half_span_(mask.kind == MaskKind::kTone       ? 0.1
                 : mask.kind == MaskKind::kGaussian ? 3.0 * mask.width_mhz
                                                    : mask.width_mhz / 2.0),
      parameters_(std::move(parameters)) {}

std::string ContinuousEmitter::Parameters() const {
    return parameters_ + "; " + Fmt(PowerDbm()) + " dBm";
}

void ContinuousEmitter::Radiate(uint64_t t, std::vector<Emission>& out) {
    double f = centre_mhz_;
    if (mask_.kind == MaskKind::kTone) {
        // Narrowband FM voice: +-50 kHz deviation, a 1 kHz tone standing in
        // for speech.
        f += 0.05 * std::sin(2.0 * kPi * static_cast<double>(t) / 1000.0);
    }
    out.push_back(Emission{f, PowerDbm(), &mask_});
}

namespace {

// What tells the continuous transmitters apart: the model's names, its
// spectral mask, and the description around its centre frequency.
struct ContinuousModel {
    const char* model;
    const char* display_name;
    Mask mask;
    const char* before_centre;
    const char* after_centre;
};

// In the order of ContinuousKind.
const ContinuousModel& ModelOf(ContinuousKind kind) {
    static const ContinuousModel models[] = {
        {"analog-phone", "Analog_Phone", Mask::Of(MaskKind::kTone, 0.0, Fluctuation::kSteady, 0.3),
         "narrowband FM carrier at ",
         " MHz, +-50 kHz deviation (~110 kHz Carson), continuous; seen through the card's "
         "Hann-windowed FFT"},
        {"unknown-continuous", "Unknown_High_Duty_Device",
         Mask::Of(MaskKind::kFlat, 4.0, Fluctuation::kNoiseLike), "continuous digital link at ",
         " MHz, flat 4 MHz with raised-cosine edges (beta 0.25), noise-like, 100% duty"},
    };
    return models[static_cast<int>(kind)];
}

}  // namespace

std::unique_ptr<Emitter> MakeVideoSender(double centre_mhz, uint64_t on_us, uint64_t off_us,
                                         double power_dbm, uint32_t seed, double sigma_mhz) {
    return std::make_unique<ContinuousEmitter>(
        "video-sender", "Video_Camera", centre_mhz,
        Mask::Of(MaskKind::kGaussian, sigma_mhz, Fluctuation::kNoiseLike), on_us, off_us, power_dbm,
        seed,
        "analog FM video at " + Fmt(centre_mhz) + " MHz: Gaussian PSD sigma " + Fmt(sigma_mhz) +
            " MHz (the video amplitude distribution through the deviation, ~" +
            Fmt(std::round(6.0 * sigma_mhz)) + " MHz Carson), noise-like per snapshot, continuous");
}

std::unique_ptr<Emitter> MakeUnknownLink(double centre_mhz, double width_mhz, uint64_t on_us,
                                         uint64_t off_us, double power_dbm, uint32_t seed) {
    return std::make_unique<ContinuousEmitter>(
        "unknown-continuous", "Unknown_High_Duty_Device", centre_mhz,
        Mask::Of(MaskKind::kFlat, width_mhz, Fluctuation::kNoiseLike), on_us, off_us, power_dbm,
        seed,
        "continuous digital link at " + Fmt(centre_mhz) + " MHz, flat " + Fmt(width_mhz) +
            " MHz with raised-cosine edges (beta 0.25), noise-like, 100% duty");
}

std::unique_ptr<Emitter> MakeContinuous(ContinuousKind kind, double centre_mhz, uint64_t on_us,
                                        uint64_t off_us, double power_dbm, uint32_t seed) {
    const ContinuousModel& m = ModelOf(kind);
    return std::make_unique<ContinuousEmitter>(m.model, m.display_name, centre_mhz, m.mask, on_us,
                                               off_us, power_dbm, seed,
                                               m.before_centre + Fmt(centre_mhz) + m.after_centre);
}

}  // namespace sim
