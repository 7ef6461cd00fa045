// Emitter models of the 2.4 GHz band simulator: each device class is a
// source of transmissions with a centre frequency, a received power, a
// spectral mask and on/off times. The card model (card_model.h) asks every
// emitter what it radiates at one instant and integrates the masks over the
// card's 312.5 kHz FFT bins.
#ifndef TESSARON_SIM_EMITTERS_H
#define TESSARON_SIM_EMITTERS_H

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace sim {

// Spectral mask of one transmission, normalised so that the power falling
// into a bin is a fraction of the total received power.
enum class MaskKind {
    kGaussian,  // GFSK hoppers, FM video: Gaussian power spectral density
    kMsk,       // O-QPSK with half-sine chips (802.15.4), i.e. MSK
    kOfdm,      // 802.11 OFDM: 52 subcarriers over 16.6 MHz with shoulders
    kFlat,      // raised-cosine edged flat band (digital continuous links)
    kTone,      // carrier narrower than a bin, seen through the FFT window
};

// How the power of a bin varies from one FFT snapshot to the next.
enum class Fluctuation {
    kSteady,     // constant envelope: small log-normal jitter
    kNoiseLike,  // OFDM / wideband FM: exponential (Rayleigh amplitude)
};

struct Mask {
    MaskKind kind = MaskKind::kGaussian;
    double width_mhz = 0.2;  // sigma, chip rate, occupied or flat width
    Fluctuation fluctuation = Fluctuation::kSteady;
    double jitter_db = 1.0;  // log-normal sigma for kSteady

    static Mask Of(MaskKind kind, double width_mhz, Fluctuation fluctuation,
                   double jitter_db = 1.0);

    // Power spectral density (relative) at df MHz from the centre.
    double Psd(double df_mhz) const;
    // Frequency beyond which the mask holds no significant power.
    double Extent() const;
    // Integral of Psd over all frequencies (cached).
    double Total() const;
    // Fraction of the power falling into a card bin centred df MHz away,
    // from a table built on first use (linear interpolation, 2 kHz steps).
    double FractionInBin(double df_mhz) const;

private:
    mutable double total_ = -1.0;
    mutable std::vector<float> fraction_table_;
};

// One thing on the air at one instant.
struct Emission {
    double centre_mhz = 2440.0;
    double power_dbm = -60.0;  // total received power
    const Mask* mask = nullptr;
};

// A burst of a bursty emitter: [start, end) in elapsed microseconds.
struct Burst {
    uint64_t start = 0;
    uint64_t end = 0;
    double centre_mhz = 0;
    double power_dbm = 0;
};

class Emitter {
public:
    Emitter(std::string model, std::string display_name, uint64_t on_us, uint64_t off_us,
            double power_dbm, uint32_t seed);
    virtual ~Emitter() = default;

    // Appends what the emitter radiates at elapsed time t (microseconds,
    // non-decreasing between calls).
    void EmissionsAt(uint64_t t, std::vector<Emission>& out);

    const std::string& Model() const { return model_; }
    // Name under which the daemon announces this device class; empty for
    // traffic that must not be announced (Wi-Fi).
    const std::string& DisplayName() const { return display_name_; }
    uint64_t OnUs() const { return on_us_; }
    uint64_t OffUs() const { return off_us_; }
    double PowerDbm() const { return power_dbm_; }
    // Moves the device further away: every transmission arrives `db` weaker.
    void Attenuate(double db) { power_dbm_ -= db; }
    // True for frequency hoppers, whose announcements carry no band.
    virtual bool Hops() const { return false; }
    virtual double FreqLoMhz() const = 0;
    virtual double FreqHiMhz() const = 0;
    // One-line description of the model's parameters for the ground truth.
    virtual std::string Parameters() const = 0;

protected:
    virtual void Radiate(uint64_t t, std::vector<Emission>& out) = 0;
    std::mt19937& Rng() { return rng_; }

private:
    std::string model_;
    std::string display_name_;
    uint64_t on_us_;
    uint64_t off_us_;
    double power_dbm_;
    std::mt19937 rng_;
};

// Base of packet-based emitters: keeps a queue of scheduled bursts ahead of
// the current time and reports those in flight.
class BurstEmitter : public Emitter {
public:
    // Every burst of the emitter has the spectral mask `mask`.
    BurstEmitter(std::string model, std::string display_name, const Mask& mask, uint64_t on_us,
                 uint64_t off_us, double power_dbm, uint32_t seed);
    // Shifts every burst by a uniform offset within +-us: a sloppy crystal
    // or a transmitter that starts late within its slot.
    void SetTimingJitter(uint64_t us) { timing_jitter_us_ = us; }
    uint64_t TimingJitterUs() const { return timing_jitter_us_; }

protected:
    void Radiate(uint64_t t, std::vector<Emission>& out) override;
    // Appends the bursts of the next scheduling step starting at or after
    // `from`; returns the time where the following step starts.
    virtual uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) = 0;

private:
    Mask mask_;
    std::deque<Burst> queue_;
    uint64_t next_step_ = 0;
    bool started_ = false;
    uint64_t timing_jitter_us_ = 0;
};

// Bluetooth hop channel k (0..78) at 2402 + k MHz.
double BluetoothChannelMhz(int k);
// 802.15.4 channel k (11..26) at 2405 + 5 (k - 11) MHz.
double ZigbeeChannelMhz(int k);
// 802.11 channel n (1..13) at 2407 + 5 n MHz.
double WifiChannelMhz(int n);

inline constexpr uint64_t BT_SLOT_US = 625;

// A frequency hopper over the 79 MHz of the Bluetooth hop channels.
class BandHopper : public BurstEmitter {
public:
    using BurstEmitter::BurstEmitter;
    bool Hops() const override { return true; }
    double FreqLoMhz() const override { return 2402; }
    double FreqHiMhz() const override { return 2480; }
};

// Bluetooth SCO voice link: master and slave 366 us packets in the first
// two slots of every `slots_per_pair` (6: HV3, 4: HV2, 2: HV1), a new hop
// frequency in every slot. An eSCO link (EV3: 382 us packets) may also use
// the retransmission window after its reserved pair: when the slave's
// acknowledgement is lost, master and slave send again in the next two
// slots, on fresh hops; `retransmit_share` of the intervals do.
class BtVoiceLink : public BandHopper {
public:
    BtVoiceLink(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
                int slots_per_pair = SLOTS_PER_PAIR, uint64_t packet_us = PACKET_US,
                double retransmit_share = 0.0);
    std::string Parameters() const override;
    static constexpr uint64_t PACKET_US = 366;
    static constexpr uint64_t EV3_PACKET_US = 382;
    static constexpr int SLOTS_PER_PAIR = 6;

protected:
    uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) override;

private:
    uint64_t slots_per_pair_;
    uint64_t packet_us_;
    double retransmit_share_;
    uint64_t slot_ = 0;
};

// Bluetooth ACL data link: master multi-slot packets (DH3 1626 us, DH5
// 2871 us) or polls, each answered by a one-slot slave packet; every packet
// sits on the hop frequency of its first slot. The load is the share of
// master packets that are DH5 and DH3 (the rest are polls). With adaptive
// hopping the link leaves out the hop channels [avoid_lo, avoid_hi] (a busy
// Wi-Fi channel's 22 MHz) and hops over the rest.
class BtDataLink : public BandHopper {
public:
    BtDataLink(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
               double dh5_share = 0.5, double dh3_share = 0.25, int avoid_lo = -1,
               int avoid_hi = -1);
    std::string Parameters() const override;

protected:
    uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) override;

private:
    double HopMhz();
    double dh5_share_;
    double dh3_share_;
    int avoid_lo_;
    int avoid_hi_;
    std::vector<int> channels_;
    uint64_t slot_ = 0;
};

// FHSS cordless phone: the base bursts at the frame start and the handset
// half a frame later on the same hop frequency; one hop per frame over a
// hop set of `channels` channels `spacing_mhz` apart from 2402 MHz.
struct FhssPhoneModel {
    uint64_t frame_us = 5000;
    uint64_t burst_us = 700;
    int channels = 79;
    double spacing_mhz = 1.0;
};

class FhssPhone : public BandHopper {
public:
    FhssPhone(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
              const FhssPhoneModel& model = FhssPhoneModel());
    std::string Parameters() const override;

protected:
    uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) override;

private:
    FhssPhoneModel model_;
};

// Game-console controller link: short packets about 1.5 MHz wide (five
// card bins), one every 4 ms on a new channel of a 2 MHz grid.
class XboxController : public BandHopper {
public:
    XboxController(uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed);
    std::string Parameters() const override;

protected:
    uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) override;
};

// Packet traffic on one channel of a given width, at a given airtime.
class ChannelTraffic : public BurstEmitter {
public:
    ChannelTraffic(std::string model, std::string display_name, const Mask& mask, double centre_mhz,
                   double half_width_mhz, int channel, double airtime, uint64_t on_us,
                   uint64_t off_us, double power_dbm, uint32_t seed);
    double FreqLoMhz() const override { return centre_mhz_ - half_width_mhz_; }
    double FreqHiMhz() const override { return centre_mhz_ + half_width_mhz_; }

protected:
    const double centre_mhz_;
    const double half_width_mhz_;
    const int channel_;
    const double airtime_;
};

// 802.15.4 / Zigbee network on one channel: data frames of 20..127 bytes
// (0.8..4.3 ms at 250 kbit/s) each followed by an ACK, at a given airtime.
class ZigbeeNetwork : public ChannelTraffic {
public:
    ZigbeeNetwork(int channel, double airtime, uint64_t on_us, uint64_t off_us, double power_dbm,
                  uint32_t seed);
    std::string Parameters() const override;

protected:
    uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) override;
};

// 802.11 OFDM traffic on one channel: frames of 0.1..2 ms, each followed by
// an ACK after SIFS, at a given airtime (the negative control).
class WifiTraffic : public ChannelTraffic {
public:
    WifiTraffic(int channel, double airtime, uint64_t on_us, uint64_t off_us, double power_dbm,
                uint32_t seed);
    std::string Parameters() const override;

protected:
    uint64_t Schedule(uint64_t from, std::deque<Burst>& queue) override;
};

// Microwave oven: the magnetron conducts on one half of each 50 or 60 Hz
// mains cycle (a little under half: ~48%); during that on-phase its carrier
// rises and falls by several MHz with the anode current, and its power
// follows the half-sine. A full-wave oven (a bridge rectifier, no voltage
// doubler) conducts on both halves of the cycle while the rectified mains
// stands over the magnetron's threshold: two on-phases per cycle, each
// FULL_WAVE_ON_FRACTION of its half-cycle.
class MicrowaveOven : public Emitter {
public:
    MicrowaveOven(double base_mhz, uint64_t on_us, uint64_t off_us, double power_dbm, uint32_t seed,
                  double mains_hz = 60.0, double sweep_mhz = SWEEP_MHZ, bool full_wave = false);
    double FreqLoMhz() const override { return base_mhz_ - 2; }
    double FreqHiMhz() const override { return base_mhz_ + sweep_mhz_ + 2; }
    std::string Parameters() const override;
    double MainsPeriodUs() const { return mains_period_us_; }
    double OnPhaseUs() const { return on_phase_us_; }
    static constexpr double ON_FRACTION = 0.48;
    static constexpr double FULL_WAVE_ON_FRACTION = 0.8;
    static constexpr double SWEEP_MHZ = 5.0;

protected:
    void Radiate(uint64_t t, std::vector<Emission>& out) override;

private:
    double base_mhz_;
    double sweep_mhz_;
    bool full_wave_;
    double mains_period_us_;
    double on_phase_us_;
    double mains_phase_us_;
    Mask mask_;
    int64_t cycle_ = -1;
    double cycle_start_mhz_ = 0;
};

// Continuous transmitters on a fixed frequency: analog cordless phone
// (narrow FM carrier), video sender (wide FM video) and an unknown
// continuous digital link.
class ContinuousEmitter : public Emitter {
public:
    ContinuousEmitter(std::string model, std::string display_name, double centre_mhz,
                      const Mask& mask, uint64_t on_us, uint64_t off_us, double power_dbm,
                      uint32_t seed, std::string parameters);
    double FreqLoMhz() const override { return centre_mhz_ - half_span_; }
    double FreqHiMhz() const override { return centre_mhz_ + half_span_; }
    std::string Parameters() const override;

protected:
    void Radiate(uint64_t t, std::vector<Emission>& out) override;

private:
    double centre_mhz_;
    Mask mask_;
    double half_span_;
    std::string parameters_;
};

// The narrow carriers whose model is fixed: an analog phone's FM tone and
// an unknown flat digital link.
enum class ContinuousKind { kAnalogPhone, kUnknown };

std::unique_ptr<Emitter> MakeContinuous(ContinuousKind kind, double centre_mhz, uint64_t on_us,
                                        uint64_t off_us, double power_dbm, uint32_t seed);
// An unknown continuous digital link of another width: flat `width_mhz`
// with raised-cosine edges, noise-like, 100% duty.
std::unique_ptr<Emitter> MakeUnknownLink(double centre_mhz, double width_mhz, uint64_t on_us,
                                         uint64_t off_us, double power_dbm, uint32_t seed);
// `sigma_mhz`: the spread of the FM video spectrum (3 MHz: ~18 MHz Carson).
std::unique_ptr<Emitter> MakeVideoSender(double centre_mhz, uint64_t on_us, uint64_t off_us,
                                         double power_dbm, uint32_t seed, double sigma_mhz = 3.0);

}  // namespace sim

#endif
