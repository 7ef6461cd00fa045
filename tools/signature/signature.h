// Spectral-shape signatures measured from a device transmitting alone: the
// per-bin mean power of the card's 56 bins over every visit to a channel,
// a window cut around the peak and scaled to unit length, written as a
// record of the daemon's signature file.
#ifndef TESSARON_SIGNATURE_H
#define TESSARON_SIGNATURE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace signature {

inline constexpr int BINS = 56;

// Bad input is reported a few times per kind, then only counted; the
// counts are summed up at the end.
class Warnings {
public:
    explicit Warnings(int shown_per_kind = 3) : shown_per_kind_(shown_per_kind) {}
    void Warn(const std::string& kind, const std::string& message);
    // "N more ..." lines for the kinds that were cut short.
    std::string Summary() const;
    int Count(const std::string& kind) const;

private:
    int shown_per_kind_;
    std::map<std::string, int> counts_;
};

// Per-channel mean of the per-bin power (dBm) over the samples seen, as the
// daemon averages a subband: the mean of the per-sample dB values.
class SpectrumAverage {
public:
    // One sample of 56 per-bin powers in dBm (negative).
    void AddSample(uint16_t freq_mhz, const double* dbm);
    // A mean already taken over `count` samples (an energy log line).
    void AddMean(uint16_t freq_mhz, const double* dbm, uint64_t count);
    uint64_t Count(uint16_t freq_mhz) const;
    std::vector<double> Mean(uint16_t freq_mhz) const;
    // The channel whose mean spectrum holds the strongest bin; 0 when empty.
    uint16_t StrongestChannel() const;
    bool Empty() const { return sums_.empty(); }

private:
    struct Sum {
        std::vector<double> db = std::vector<double>(BINS, 0.0);
        uint64_t count = 0;
    };
    std::map<uint16_t, Sum> sums_;
};

// Feeds one spectrum datagram (wire bytes) through the daemon's decoding and
// power conversion into the average; bad datagrams and samples are warned
// about and dropped.
void AddDatagram(const uint8_t* data, size_t len, SpectrumAverage& average, Warnings& warnings);

// Reads the mean-power group of every SPECTRUM line of an energy log.
void AddEnergyLog(const std::string& text, SpectrumAverage& average, Warnings& warnings);

struct Shape {
    int first = 0, last = 0;  // bin offsets from the peak
    int peak_bin = 0;
    double peak_dbm = 0;
    std::vector<double> values;  // unit length
};

// The usual window of a device class: -4..4 for the analog phone (id 1),
// -24..24 for the video sender (id 3); for another id, the bins from the
// peak out to where the mean falls within 3 dB of the floor, plus two.
std::pair<int, int> DefaultWindow(int id, const std::vector<double>& mean_dbm);

// Cuts `window` around the strongest bin and scales it to unit length.
// False with a reason when the window leaves the 56 bins or the spectrum
// holds no signal.
bool MakeShape(const std::vector<double>& mean_dbm, std::pair<int, int> window, Shape* shape,
               std::string* error);

// "<id> <name> <N> <first> <last> <v1,...> ..." with six decimals.
std::string FormatRecord(int id, const std::string& name, const std::vector<Shape>& shapes);

}  // namespace signature

#endif
