#include "scenarios.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <sstream>

namespace sim {

namespace {

constexpr uint64_t kForever = ~uint64_t{0};

uint64_t Us(double seconds) {
    return static_cast<uint64_t>(seconds * 1e6);
}

// Each emitter gets its own random stream derived from the scenario seed.
uint32_t SubSeed(uint32_t seed, uint32_t k) {
    return seed * 2654435761u + k * 40503u + 17u;
}

using Adder = std::function<void(Scenario&, uint32_t seed)>;

// Adds a packet-based emitter, with its bursts shifted by up to +-jitter us.
template <typename Make>
Adder Bursts(Make make, uint64_t jitter_us) {
    return [=](Scenario& s, uint32_t seed) {
        std::unique_ptr<BurstEmitter> e = make(seed);
        e->SetTimingJitter(jitter_us);
        s.emitters.push_back(std::move(e));
    };
}

uint64_t OffUs(double off) {
    return off < 0 ? kForever : Us(off);
}

// Adds a Bluetooth link, FHSS phone or game controller.
template <typename Link>
Adder Hopper(double on = 0, double off = -1, double power = -50, uint64_t jitter = 0) {
    return Bursts(
        [=](uint32_t seed) { return std::make_unique<Link>(Us(on), OffUs(off), power, seed); },
        jitter);
}

// Model variations of the hoppers: another voice packet type, another data
// load, another phone frame and hop set.
Adder VoiceLink(int slots_per_pair, double power, uint64_t jitter,
                uint64_t packet_us = BtVoiceLink::PACKET_US, double retransmit_share = 0.0) {
    return Bursts(
        [=](uint32_t seed) {
            return std::make_unique<BtVoiceLink>(0, kForever, power, seed, slots_per_pair,
                                                 packet_us, retransmit_share);
        },
        jitter);
}

// avoid_lo..avoid_hi: hop channels an adaptive-hopping link leaves out.
Adder DataLink(double dh5_share, double dh3_share, double power, uint64_t jitter, int avoid_lo = -1,
               int avoid_hi = -1) {
    return Bursts(
        [=](uint32_t seed) {
            return std::make_unique<BtDataLink>(0, kForever, power, seed, dh5_share, dh3_share,
                                                avoid_lo, avoid_hi);
        },
        jitter);
}

Adder Phone(const FhssPhoneModel& model, double power, uint64_t jitter) {
    return Bursts(
        [=](uint32_t seed) { return std::make_unique<FhssPhone>(0, kForever, power, seed, model); },
        jitter);
}

Adder Zigbee(int channel = 18, double airtime = 0.05, double on = 0, double off = -1,
             double power = -55, uint64_t jitter = 0) {
    return Bursts(
        [=](uint32_t seed) {
            return std::make_unique<ZigbeeNetwork>(channel, airtime, Us(on), OffUs(off), power,
                                                   seed);
        },
        jitter);
}

Adder Microwave(double base = 2452, double on = 0, double off = -1, double power = -45,
                double mains_hz = 60, double sweep_mhz = MicrowaveOven::SWEEP_MHZ,
                bool full_wave = false) {
    return [=](Scenario& s, uint32_t seed) {
        s.emitters.push_back(std::make_unique<MicrowaveOven>(base, Us(on), OffUs(off), power, seed,
                                                             mains_hz, sweep_mhz, full_wave));
    };
}

// Adds a continuous emitter on a fixed frequency.
Adder Continuous(ContinuousKind kind, double f, double on, double off, double power) {
    return [=](Scenario& s, uint32_t seed) {
        s.emitters.push_back(MakeContinuous(kind, f, Us(on), OffUs(off), power, seed));
    };
}

Adder Analog(double f = 2447.0, double on = 0, double off = -1, double power = -55) {
    return Continuous(ContinuousKind::kAnalogPhone, f, on, off, power);
}

Adder Video(double f = 2432.0, double on = 0, double off = -1, double power = -40,
            double sigma_mhz = 3.0) {
    return [=](Scenario& s, uint32_t seed) {
        s.emitters.push_back(MakeVideoSender(f, Us(on), OffUs(off), power, seed, sigma_mhz));
    };
}

Adder Unknown(double f = 2466.0, double on = 0, double off = -1, double power = -50) {
    return Continuous(ContinuousKind::kUnknown, f, on, off, power);
}

Adder UnknownOfWidth(double f, double width_mhz, double power) {
    return [=](Scenario& s, uint32_t seed) {
        s.emitters.push_back(MakeUnknownLink(f, width_mhz, 0, kForever, power, seed));
    };
}

Adder Wifi(int channel, double airtime, double power = -55) {
    return [=](Scenario& s, uint32_t seed) {
        s.emitters.push_back(
            std::make_unique<WifiTraffic>(channel, airtime, 0, kForever, power, seed));
    };
}

// What a scenario holds: its emitters, added in order, over 30 s of air
// unless it says otherwise.
struct Recipe {
    std::string description;
    std::vector<Adder> adders;
    double duration_s = 30;
    bool clock_wrap = false;
};

using Entry = std::pair<std::string, Recipe>;

// One device class alone, then the classes side by side, then the
// switch-offs, the clock wrap and the mixes.
std::vector<Entry> BaseScenarios() {
    return {
        {"idle", {"receiver noise only", {}}},
        {"wifi-light", {"802.11 OFDM on channel 6 at 3% airtime", {Wifi(6, 0.03)}}},
        {"wifi-heavy",
         {"802.11 OFDM: channel 6 at 60% airtime and channel 1 at 20% (weaker)",
          {Wifi(6, 0.60), Wifi(1, 0.20, -68)}}},
        {"bt-voice", {"Bluetooth SCO voice link", {Hopper<BtVoiceLink>()}}},
        {"bt-data", {"Bluetooth ACL data link", {Hopper<BtDataLink>()}}},
        {"fhss-phone", {"FHSS cordless phone call", {Hopper<FhssPhone>()}}},
        {"xbox", {"game-console controller link", {Hopper<XboxController>()}}},
        {"zigbee", {"busy Zigbee network on channel 18 (2440 MHz), 5% airtime", {Zigbee()}}},
        {"zigbee-quiet",
         {"Zigbee network on channel 18 at 2% airtime (typical sensor traffic)",
          {Zigbee(18, 0.02)}}},
        {"microwave", {"microwave oven heating, carrier near 2452-2457 MHz", {Microwave()}}},
        {"analog-phone", {"analog cordless phone carrier at 2447 MHz", {Analog()}}},
        {"video-sender", {"analog video sender at 2432 MHz", {Video()}}},
        {"unknown-continuous", {"unknown continuous 4 MHz emitter at 2466 MHz", {Unknown()}}},
        {"bt-voice-microwave",
         {"Bluetooth voice link next to a running microwave oven",
          {Hopper<BtVoiceLink>(), Microwave()}}},
        {"bt-data-zigbee",
         {"Bluetooth data link and a busy Zigbee network", {Hopper<BtDataLink>(), Zigbee()}}},
        {"fhss-phone-analog-phone",
         {"FHSS phone and analog phone", {Hopper<FhssPhone>(), Analog()}}},
        {"xbox-wifi",
         {"game controller beside light Wi-Fi", {Hopper<XboxController>(), Wifi(6, 0.03)}}},
        {"video-sender-bt-voice",
         {"video sender and a Bluetooth voice link", {Video(), Hopper<BtVoiceLink>()}}},
        {"bt-data-wifi-heavy",
         {"Bluetooth data link under heavy Wi-Fi", {Hopper<BtDataLink>(), Wifi(6, 0.60)}}},
        {"switch-off",
         {"Bluetooth data link switched off after 15 s", {Hopper<BtDataLink>(0, 15)}, 45}},
        {"analog-phone-switch-off",
         {"analog phone hung up after 15 s", {Analog(2447.0, 0, 15)}, 45}},
        {"clock-wrap",
         {"Bluetooth data link and analog phone; the card's 32-bit clock wraps after 5 s",
          {Hopper<BtDataLink>(), Analog()},
          30,
          true}},
        {"everything",
         {"every class at once with light Wi-Fi",
          {Hopper<BtVoiceLink>(), Hopper<BtDataLink>(0, -1, -55), Hopper<FhssPhone>(),
           Hopper<XboxController>(), Zigbee(12), Microwave(), Analog(2447.0), Video(2432.0),
           Unknown(2466.0), Wifi(6, 0.03)}}},
        {"demo",
         {"mixed: Bluetooth voice link, microwave oven, analog phone and light Wi-Fi",
          {Hopper<BtVoiceLink>(), Microwave(), Analog(2447.0), Wifi(6, 0.03)},
          25}},
    };
}

// The same device models further away, on other channels, with other mains,
// duty or sloppier timing.
std::vector<Entry> Variations() {
    return {
        {"bt-voice-weak",
         {"Bluetooth SCO voice link at -75 dBm", {Hopper<BtVoiceLink>(0, -1, -75)}}},
        {"bt-voice-far-jitter",
         {"Bluetooth SCO voice link at -82 dBm, packets +-10 us off their slots",
          {Hopper<BtVoiceLink>(0, -1, -82, 10)}}},
        {"bt-data-weak", {"Bluetooth ACL data link at -75 dBm", {Hopper<BtDataLink>(0, -1, -75)}}},
        {"bt-data-jitter",
         {"Bluetooth ACL data link at -62 dBm, packets +-10 us off their slots",
          {Hopper<BtDataLink>(0, -1, -62, 10)}}},
        {"fhss-phone-weak", {"FHSS cordless phone at -75 dBm", {Hopper<FhssPhone>(0, -1, -75)}}},
        {"fhss-phone-jitter",
         {"FHSS cordless phone at -62 dBm, frames +-15 us off",
          {Hopper<FhssPhone>(0, -1, -62, 15)}}},
        {"xbox-weak", {"game-console controller at -72 dBm", {Hopper<XboxController>(0, -1, -72)}}},
        {"xbox-jitter",
         {"game-console controller at -58 dBm, packets +-10 us off",
          {Hopper<XboxController>(0, -1, -58, 10)}}},
        {"zigbee-ch23",
         {"Zigbee on channel 23 (2465 MHz, near the top of the card's views) at -60 dBm, 5% "
          "airtime",
          {Zigbee(23, 0.05, 0, -1, -60)}}},
        {"zigbee-ch11-weak",
         {"Zigbee on channel 11 (2405 MHz) at -78 dBm, 5% airtime",
          {Zigbee(11, 0.05, 0, -1, -78)}}},
        {"zigbee-ch15-jitter",
         {"Zigbee on channel 15 (2425 MHz) at -65 dBm, 8% airtime, frames +-8 us off",
          {Zigbee(15, 0.08, 0, -1, -65, 8)}}},
        {"microwave-50hz",
         {"microwave oven on 50 Hz mains, carrier near 2450-2455 MHz",
          {Microwave(2450, 0, -1, -45, 50)}}},
        {"microwave-weak",
         {"microwave oven in another room, -70 dBm peak", {Microwave(2452, 0, -1, -70)}}},
        {"microwave-50hz-far",
         {"microwave oven on 50 Hz mains at -80 dBm peak, carrier near 2456-2461 MHz",
          {Microwave(2456, 0, -1, -80, 50)}}},
        {"analog-phone-weak",
         {"analog cordless phone carrier at 2447 MHz, -75 dBm", {Analog(2447.0, 0, -1, -75)}}},
        {"analog-phone-2421",
         {"analog cordless phone carrier at 2421.5 MHz, -62 dBm", {Analog(2421.5, 0, -1, -62)}}},
        {"video-sender-ch11",
         {"analog video sender at 2462 MHz, -55 dBm", {Video(2462.0, 0, -1, -55)}}},
        {"video-sender-weak",
         {"analog video sender at 2432 MHz, -70 dBm", {Video(2432.0, 0, -1, -70)}}},
        {"unknown-continuous-weak",
         {"unknown continuous 4 MHz emitter at 2466 MHz, -75 dBm", {Unknown(2466.0, 0, -1, -75)}}},
        {"unknown-continuous-2417",
         {"unknown continuous 4 MHz emitter at 2417 MHz, -60 dBm", {Unknown(2417.0, 0, -1, -60)}}},
        {"wifi-strong",
         {"802.11 OFDM on channel 11 at 40% airtime, -38 dBm (close access point)",
          {Wifi(11, 0.40, -38)}}},
        {"wifi-ch1-ch11",
         {"802.11 OFDM on channels 1 (-50 dBm) and 11 (-62 dBm), 30% airtime each",
          {Wifi(1, 0.30, -50), Wifi(11, 0.30, -62)}}},
        // Variations of the models themselves: other packet types, loads,
        // frames, hop sets, sweeps and spectrum widths.
        {"bt-voice-hv2",
         {"Bluetooth HV2 voice link (a packet pair every 4 slots) at -66 dBm, packets +-5 us off",
          {VoiceLink(4, -66, 5)}}},
        {"bt-data-light",
         {"lightly loaded Bluetooth ACL link (10% DH5, 10% DH3, 80% polls) at -60 dBm",
          {DataLink(0.1, 0.1, -60, 0)}}},
        {"fhss-phone-10ms",
         {"FHSS cordless phone with 10 ms frames and 1.2 ms bursts over 95 channels 0.8 MHz "
          "apart, -64 dBm",
          {Phone(FhssPhoneModel{10000, 1200, 95, 0.8}, -64, 0)}}},
        {"zigbee-ch20-quiet",
         {"Zigbee on channel 20 (2450 MHz) at -70 dBm, 3% airtime, frames +-5 us off",
          {Zigbee(20, 0.03, 0, -1, -70, 5)}}},
        {"microwave-wide-sweep",
         {"microwave oven on 60 Hz mains at -58 dBm whose carrier sweeps 8 MHz up from near "
          "2445 MHz",
          {Microwave(2445, 0, -1, -58, 60, 8.0)}}},
        {"analog-phone-2465",
         {"analog cordless phone carrier at 2465.2 MHz, -68 dBm", {Analog(2465.2, 0, -1, -68)}}},
        {"video-sender-2450-narrow",
         {"analog video sender at 2450 MHz with a narrower spectrum (sigma 2.5 MHz, ~15 MHz), "
          "-60 dBm",
          {Video(2450.0, 0, -1, -60, 2.5)}}},
        // What another team's models of the same classes might look like:
        // eSCO with retransmissions, adaptive hopping, a 1.728 MHz hop grid,
        // a channel at the edge of the views, high airtime, a full-wave
        // oven, an oven and a video sender near the band's ends, other
        // widths of digital link.
        {"bt-esco-ev3",
         {"Bluetooth eSCO voice link (EV3: 382 us packets every 6 slots, 20% retransmitted in "
          "slots 2-3) at -64 dBm, packets +-5 us off",
          {VoiceLink(6, -64, 5, BtVoiceLink::EV3_PACKET_US, 0.2)}}},
        {"bt-data-afh-wifi",
         {"Bluetooth ACL data link at -58 dBm hopping adaptively over 56 channels, leaving out "
          "2426-2448 MHz, beside Wi-Fi on channel 6 at 30% airtime",
          {DataLink(0.5, 0.25, -58, 0, 24, 46), Wifi(6, 0.30)}}},
        {"fhss-phone-1.7mhz",
         {"FHSS cordless phone with 10 ms frames and 400 us bursts over 45 channels 1.728 MHz "
          "apart, -60 dBm",
          {Phone(FhssPhoneModel{10000, 400, 45, 1.728}, -60, 0)}}},
        {"zigbee-ch24",
         {"Zigbee on channel 24 (2470 MHz, at the top edge of the card's views) at -58 dBm, 8% "
          "airtime",
          {Zigbee(24, 0.08, 0, -1, -58)}}},
        {"zigbee-busy",
         {"Zigbee on channel 13 (2415 MHz) at -58 dBm, 25% airtime",
          {Zigbee(13, 0.25, 0, -1, -58)}}},
        {"microwave-fullwave",
         {"full-wave microwave oven on 50 Hz mains (two 8 ms on-phases a cycle) at -52 dBm, "
          "carrier near 2444-2449 MHz",
          {Microwave(2444, 0, -1, -52, 50, MicrowaveOven::SWEEP_MHZ, true)}}},
        {"microwave-2463",
         {"microwave oven on 60 Hz mains at -60 dBm, carrier near 2463-2468 MHz",
          {Microwave(2463, 0, -1, -60, 60)}}},
        {"video-sender-2414",
         {"analog video sender at 2414 MHz, -60 dBm", {Video(2414.0, 0, -1, -60)}}},
        {"unknown-continuous-8mhz",
         {"unknown continuous 8 MHz emitter at 2440 MHz, -58 dBm",
          {UnknownOfWidth(2440.0, 8.0, -58)}}},
        {"unknown-continuous-1.5mhz",
         {"unknown continuous 1.5 MHz emitter at 2428 MHz, -62 dBm",
          {UnknownOfWidth(2428.0, 1.5, -62)}}},
    };
}

const std::vector<Entry>& Catalogue() {
    static const std::vector<Entry> catalogue = [] {
        std::vector<Entry> all = BaseScenarios();
        for (Entry& e : Variations()) {
            all.push_back(std::move(e));
        }
        return all;
    }();
    return catalogue;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string TimingNote(const Emitter& e) {
    const auto* bursts = dynamic_cast<const BurstEmitter*>(&e);
    if (bursts == nullptr || bursts->TimingJitterUs() == 0) {
        return "";
    }
    return "; bursts shifted by up to +-" + std::to_string(bursts->TimingJitterUs()) + " us";
}

}  // namespace

std::vector<ScenarioInfo> ListScenarios() {
    std::vector<ScenarioInfo> list;
    for (const auto& [name, recipe] : Catalogue()) {
        list.push_back(ScenarioInfo{name, recipe.description, recipe.duration_s});
    }
    return list;
}

std::unique_ptr<Scenario> BuildScenario(const std::string& name, uint32_t seed, double duration_s,
                                        double attenuate_db) {
    for (const auto& [entry_name, recipe] : Catalogue()) {
        if (entry_name != name) {
            continue;
        }
        auto s = std::make_unique<Scenario>();
        s->name = name;
        s->description = recipe.description;
        s->duration_s = duration_s > 0 ? duration_s : recipe.duration_s;
        s->clock_wrap = recipe.clock_wrap;
        s->attenuate_db = attenuate_db;
        uint32_t k = 0;
        for (const Adder& add : recipe.adders) {
            add(*s, SubSeed(seed, ++k));
        }
        for (auto& e : s->emitters) {
            // Wi-Fi is the negative control and stays where it is.
            if (!e->DisplayName().empty()) {
                e->Attenuate(attenuate_db);
            }
        }
        return s;
    }
    return nullptr;
}

double ShortRunSeconds(const Scenario& scenario, double run_s) {
    double last_off = 0;
    for (const auto& e : scenario.emitters) {
        if (e->OffUs() != kForever) {
            last_off = std::max(last_off, static_cast<double>(e->OffUs()) / 1e6);
        }
    }
    return std::min(scenario.duration_s, last_off + run_s);
}

GeneratorStats RunScenario(Scenario& scenario, const CardConfig& card_in, uint32_t seed,
                           const DatagramSink& sink) {
    const auto wall_start = std::chrono::steady_clock::now();
    CardConfig card = card_in;
    card.clock_wrap = card.clock_wrap || scenario.clock_wrap;
    CardClock clock(card, SubSeed(seed, 1000));
    NoiseRng rng(SubSeed(seed, 2000));
    const uint64_t end = Us(scenario.duration_s);

    GeneratorStats stats;
    fft_data record;
    memset(&record, 0, sizeof(record));
    uint8_t wire[FFT_DATA_WIRE_SIZE];
    uint64_t last_elapsed = 0;
    std::vector<Emission> emissions;
    double dbm[CARD_BINS];
    bool stop = false;

    auto flush = [&]() {
        if (record.count == 0) {
            return;
        }
        record.seq_num = stats.datagrams;
        EncodeFftData(record, wire);
        // The producer forwards a datagram once its last report is in.
        const uint64_t host_us = last_elapsed + 150;
        if (!sink(wire, sizeof(wire), SIM_EPOCH_S + static_cast<int64_t>(host_us / 1000000),
                  static_cast<int64_t>(host_us % 1000000))) {
            stop = true;
        }
        stats.datagrams++;
        memset(&record, 0, sizeof(record));
    };

    while (!stop) {
        uint64_t elapsed;
        uint16_t freq;
        if (!clock.Next(&elapsed, &freq)) {
            flush();
            continue;
        }
        if (elapsed >= end) {
            break;
        }
        emissions.clear();
        for (auto& e : scenario.emitters) {
            e->EmissionsAt(elapsed, emissions);
        }
        SynthesiseBins(freq, emissions, card.noise_dbm, rng, dbm);
        spectrum_fft& s = record.samples[record.count];
        s.freq = freq;
        s.ts = clock.CardTime(elapsed);
        EncodeBins(dbm, s);
        record.count++;
        last_elapsed = elapsed;
        stats.samples++;
        if (record.count == CONST_FFT_SAMPLES_PER_DATAGRAM) {
            flush();
        }
    }
    if (!stop) {
        flush();
    }
    stats.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    return stats;
}

std::string TruthJson(const Scenario& scenario, const CardConfig& card, uint32_t seed) {
    std::ostringstream out;
    out.precision(10);
    const double duration = scenario.duration_s;
    out << "{\n  \"scenario\": " << JsonString(scenario.name) << ",\n"
        << "  \"description\": " << JsonString(scenario.description) << ",\n"
        << "  \"seed\": " << seed << ",\n"
        << "  \"duration_s\": " << duration << ",\n"
        << "  \"epoch_s\": " << SIM_EPOCH_S << ",\n"
        << "  \"clock_wrap\": " << (card.clock_wrap || scenario.clock_wrap ? "true" : "false")
        << ",\n"
        << "  \"card_start_tsf\": " << CardStartTsf(card.clock_wrap || scenario.clock_wrap) << ",\n"
        << "  \"sample_interval_us\": " << card.interval_us << ",\n"
        << "  \"attenuate_db\": " << scenario.attenuate_db << ",\n"
        << "  \"devices\": [";
    bool first = true;
    for (const auto& e : scenario.emitters) {
        const double on = static_cast<double>(e->OnUs()) / 1e6;
        const double off = e->OffUs() == kForever ? duration : std::min(duration, e->OffUs() / 1e6);
        out << (first ? "\n" : ",\n") << "    {\"model\": " << JsonString(e->Model())
            << ", \"name\": " << JsonString(e->DisplayName())
            << ", \"announce\": " << (e->DisplayName().empty() ? "false" : "true")
            << ", \"hops\": " << (e->Hops() ? "true" : "false")
            << ", \"freq_lo_mhz\": " << e->FreqLoMhz() << ", \"freq_hi_mhz\": " << e->FreqHiMhz()
            << ", \"power_dbm\": " << e->PowerDbm() << ", \"on_s\": " << on
            << ", \"off_s\": " << off
            << ", \"switches_off\": " << (off < duration ? "true" : "false")
            << ", \"parameters\": " << JsonString(e->Parameters() + TimingNote(*e)) << "}";
        first = false;
    }
    out << (first ? "]\n}\n" : "\n  ]\n}\n");
    return out.str();
}

}  // namespace sim
