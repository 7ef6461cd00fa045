// Turns the card's 20 MHz reports into the daemon's spectrum samples and
// packs them into datagrams.
//
// Power. The card gives each report's total power as `rssi` dB above its own
// noise floor `noise` (dBm), and each bin's share of it through the bin
// magnitudes. The daemon computes a bin's power as
//     (rssi_field - 95) + 20 log10(b_i) - 10 log10(sum of b_j^2)
// over its copy of the bins, in which the centre bin has been replaced by the
// mean of its neighbours. So the rssi field carries the card's absolute
// report power, noise + rssi + 95, plus a whole-dB correction for the energy
// the daemon's centre-bin repair removes or adds (see MapReport).
#ifndef TESSARON_PRODUCER_SAMPLE_MAPPER_H
#define TESSARON_PRODUCER_SAMPLE_MAPPER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "fft_data.h"
#include "relay_decoder.h"

namespace relay {

inline constexpr int DAEMON_RSSI_REFERENCE_DBM = -95;
// Entry of spectrum_fft::samples that receives the lowest bin; the centre
// bin (bins[28]) then lands on entry 30.
inline constexpr int SAMPLE_FIRST_ENTRY = 2;
inline constexpr int CARD_DC_BIN = 28;
// A noise floor outside this range is not a reading of a working receiver.
inline constexpr int PLAUSIBLE_NOISE_LOW_DBM = -120;
inline constexpr int PLAUSIBLE_NOISE_HIGH_DBM = -50;
// Used for implausible readings when no --noise-floor is given.
inline constexpr int DEFAULT_NOISE_FLOOR_DBM = -95;

struct MapperCounters {
    uint64_t implausible_noise = 0;  // reports whose noise floor was replaced
    uint64_t rssi_clamped = 0;       // reports whose power did not fit the field
};

// The rssi field for a report: noise + rssi + 95 plus the centre-bin
// correction, clamped to the signed byte. *clamped tells whether it was.
int8_t DaemonRssi(int noise_dbm, int rssi_db, const uint8_t* bins, bool* clamped);

class SampleMapper {
public:
    // With a noise floor override every report uses it instead of its own.
    explicit SampleMapper(std::optional<int> noise_override = std::nullopt)
        : noise_override_(noise_override) {}

    void MapReport(const Ht20Report& report, spectrum_fft& out);
    const MapperCounters& Counters() const { return counters_; }
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    int NoiseFloor(int8_t reported);

    std::optional<int> noise_override_;
    MapperCounters counters_;
    bool warned_noise_ = false;
    bool warned_clamp_ = false;
    bool quiet_ = false;
};

// Packs samples into datagrams of up to 14 with count and a rising seq_num.
class DatagramBatcher {
public:
    // Receives each finished datagram (1360 bytes) and its last sample's time.
    using Emit = std::function<void(const uint8_t* wire, size_t len, uint64_t last_ts)>;

    explicit DatagramBatcher(Emit emit);
    // The slot for the next sample; Commit() makes it part of the datagram.
    spectrum_fft& NextSlot();
    void Commit();
    void Flush();
    bool Pending() const { return pending_.count > 0; }
    uint64_t Datagrams() const { return datagrams_; }

private:
    Emit emit_;
    fft_data pending_;
    uint8_t wire_[FFT_DATA_WIRE_SIZE];
    uint64_t datagrams_ = 0;
};

}  // namespace relay

#endif
