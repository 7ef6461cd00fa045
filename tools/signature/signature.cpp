#include "signature.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "fft_data.h"
#include "script_utils_module.h"
#include "subband_analyser_class.h"

namespace signature {

namespace {

constexpr int kFirstRawBin = 2;      // samples[2] holds bin 0 after conversion
constexpr int kEnergyMeanGroup = 9;  // field of the visit's mean power per bin
constexpr double kFloorMarginDb = 3.0;
// A shape is only worth storing when the device stands this far above the
// channel's weakest bin (the mean of noise alone varies by a few dB across
// the bins of a short recording).
constexpr double kMinPeakAboveFloorDb = 8.0;

bool IsMonitoredChannel(uint16_t freq) {
    return std::any_of(std::begin(CONST_CENTER_FREQUENCIES), std::end(CONST_CENTER_FREQUENCIES),
                       [freq](float c) { return c == static_cast<float>(freq); });
}

bool ParseLong(const std::string& text, long long* out) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    *out = strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

// "v_v_..._v_" with exactly 56 whole numbers, each followed by '_'.
bool ParseGroup(const std::string& group, double* values) {
    size_t pos = 0;
    for (int i = 0; i < BINS; i++) {
        const size_t bar = group.find('_', pos);
        long long v = 0;
        if (bar == std::string::npos || !ParseLong(group.substr(pos, bar - pos), &v) || v < 0 ||
            v > 255) {
            return false;
        }
        values[i] = -static_cast<double>(v);
        pos = bar + 1;
    }
    return pos == group.size();
}

std::string LineRef(size_t number) {
    return "line " + std::to_string(number) + ": ";
}

}  // namespace

void Warnings::Warn(const std::string& kind, const std::string& message) {
    if (++counts_[kind] <= shown_per_kind_) {
        fprintf(stderr, "tessaron-signature: warning: %s\n", message.c_str());
    }
}

std::string Warnings::Summary() const {
    std::string out;
    for (const auto& [kind, count] : counts_) {
        if (count > shown_per_kind_) {
            out += "tessaron-signature: warning: " + std::to_string(count - shown_per_kind_) +
                   " more " + kind + "\n";
        }
    }
    return out;
}

int Warnings::Count(const std::string& kind) const {
    const auto it = counts_.find(kind);
    return it == counts_.end() ? 0 : it->second;
}

void SpectrumAverage::AddSample(uint16_t freq_mhz, const double* dbm) {
    AddMean(freq_mhz, dbm, 1);
}

void SpectrumAverage::AddMean(uint16_t freq_mhz, const double* dbm, uint64_t count) {
    Sum& s = sums_[freq_mhz];
    for (int i = 0; i < BINS; i++) {
        s.db[static_cast<size_t>(i)] += dbm[i] * static_cast<double>(count);
    }
    s.count += count;
}

uint64_t SpectrumAverage::Count(uint16_t freq_mhz) const {
    const auto it = sums_.find(freq_mhz);
    return it == sums_.end() ? 0 : it->second.count;
}

std::vector<double> SpectrumAverage::Mean(uint16_t freq_mhz) const {
    std::vector<double> mean(BINS, 0.0);
    const auto it = sums_.find(freq_mhz);
    if (it == sums_.end() || it->second.count == 0) {
        return mean;
    }
    for (int i = 0; i < BINS; i++) {
        mean[static_cast<size_t>(i)] =
            it->second.db[static_cast<size_t>(i)] / static_cast<double>(it->second.count);
    }
    return mean;
}

uint16_t SpectrumAverage::StrongestChannel() const {
    uint16_t best = 0;
    double best_peak = -1e9;
    for (const auto& [freq, sum] : sums_) {
        const std::vector<double> mean = Mean(freq);
        const double peak = *std::max_element(mean.begin(), mean.end());
        if (sum.count > 0 && peak > best_peak) {
            best_peak = peak;
            best = freq;
        }
    }
    return best;
}

void AddDatagram(const uint8_t* data, size_t len, SpectrumAverage& average, Warnings& warnings) {
    if (len != FFT_DATA_WIRE_SIZE) {
        warnings.Warn("datagrams of the wrong size",
                      "datagram of " + std::to_string(len) + " bytes, not " +
                          std::to_string(FFT_DATA_WIRE_SIZE) + ": dropped");
        return;
    }
    fft_data datagram;
    DecodeFftData(data, datagram);
    if (datagram.count < 0 || datagram.count > CONST_FFT_SAMPLES_PER_DATAGRAM) {
        warnings.Warn("datagrams with a bad sample count",
                      "datagram with sample count " + std::to_string(datagram.count) + ": dropped");
        return;
    }
    double dbm[BINS];
    for (int k = 0; k < datagram.count; k++) {
        spectrum_fft& sample = datagram.samples[k];
        if (!IsMonitoredChannel(sample.freq)) {
            warnings.Warn("samples off the monitored channels",
                          "sample on " + std::to_string(sample.freq) +
                              " MHz, not a monitored channel: dropped");
            continue;
        }
        if (ConvertSpectrumToDb(&sample)) {
            warnings.Warn("samples with saturated bins",
                          "sample with a bin power outside 0 to -255 dBm: dropped");
            continue;
        }
        for (int i = 0; i < BINS; i++) {
            dbm[i] = -static_cast<double>(sample.samples[kFirstRawBin + i]);
        }
        average.AddSample(sample.freq, dbm);
    }
}

void AddEnergyLog(const std::string& text, SpectrumAverage& average, Warnings& warnings) {
    // "SPECTRUM <host time> <card time> <freq> <samples> <high-energy> <six groups>"
    std::istringstream lines(text);
    std::string line;
    size_t number = 0;
    double dbm[BINS];
    while (std::getline(lines, line)) {
        number++;
        if (line.rfind("SPECTRUM ", 0) != 0) {
            warnings.Warn("lines that are not SPECTRUM lines",
                          LineRef(number) + "not a SPECTRUM line: skipped");
            continue;
        }
        std::istringstream words(line);
        std::vector<std::string> f;
        std::string w;
        while (f.size() < 13 && words >> w) {
            f.push_back(w);
        }
        long long freq = 0, samples = 0;
        if (f.size() != 12 || !ParseLong(f[3], &freq) || !ParseLong(f[4], &samples)) {
            warnings.Warn(
                "malformed SPECTRUM lines",
                LineRef(number) + "not 12 fields with numbers where they belong: skipped");
            continue;
        }
        if (freq < 0 || freq > 65535 || !IsMonitoredChannel(static_cast<uint16_t>(freq))) {
            warnings.Warn("lines off the monitored channels", LineRef(number) + "frequency " +
                                                                  f[3] +
                                                                  " is not a monitored channel: "
                                                                  "skipped");
            continue;
        }
        if (samples <= 0 || samples > 1000000) {
            warnings.Warn("lines with a bad sample count",
                          LineRef(number) + "sample count " + f[4] + ": skipped");
            continue;
        }
        if (!ParseGroup(f[kEnergyMeanGroup - 1], dbm)) {
            warnings.Warn("lines with a bad mean-power group",
                          LineRef(number) +
                              "mean-power group is not 56 whole dB values each followed by "
                              "'_': skipped");
            continue;
        }
        average.AddMean(static_cast<uint16_t>(freq), dbm, static_cast<uint64_t>(samples));
    }
}

std::pair<int, int> DefaultWindow(int id, const std::vector<double>& mean_dbm) {
    if (id == 1) {
        return {-4, 4};
    }
    if (id == 3) {
        return {-24, 24};
    }
    const int peak =
        static_cast<int>(std::max_element(mean_dbm.begin(), mean_dbm.end()) - mean_dbm.begin());
    std::vector<double> sorted = mean_dbm;
    std::sort(sorted.begin(), sorted.end());
    const double floor = sorted[sorted.size() / 4] + kFloorMarginDb;
    int lo = peak, hi = peak;
    while (lo > 0 && mean_dbm[static_cast<size_t>(lo - 1)] > floor) {
        lo--;
    }
    while (hi < BINS - 1 && mean_dbm[static_cast<size_t>(hi + 1)] > floor) {
        hi++;
    }
    return {std::max(lo - 2, 0) - peak, std::min(hi + 2, BINS - 1) - peak};
}

bool MakeShape(const std::vector<double>& mean_dbm, std::pair<int, int> window, Shape* shape,
               std::string* error) {
    if (mean_dbm.size() != static_cast<size_t>(BINS)) {
        *error = "the spectrum does not hold 56 bins";
        return false;
    }
    if (window.first > 0 || window.second < 0) {
        *error = "the window must contain the peak (first <= 0 <= last)";
        return false;
    }
    const int peak =
        static_cast<int>(std::max_element(mean_dbm.begin(), mean_dbm.end()) - mean_dbm.begin());
    if (peak + window.first < 0 || peak + window.second > BINS - 1) {
        *error = "the window " + std::to_string(window.first) + ".." +
                 std::to_string(window.second) + " around the peak in bin " + std::to_string(peak) +
                 " leaves the channel's 56 bins: record the device on a channel where it sits "
                 "nearer the middle, or narrow the window";
        return false;
    }
    const double floor = *std::min_element(mean_dbm.begin(), mean_dbm.end());
    if (mean_dbm[static_cast<size_t>(peak)] - floor < kMinPeakAboveFloorDb) {
        char buf[160];
        snprintf(buf, sizeof(buf),
                 "no device stands out of the noise on this channel (peak %.1f dBm, weakest bin "
                 "%.1f dBm)",
                 mean_dbm[static_cast<size_t>(peak)], floor);
        *error = buf;
        return false;
    }
    shape->first = window.first;
    shape->last = window.second;
    shape->peak_bin = peak;
    shape->peak_dbm = mean_dbm[static_cast<size_t>(peak)];
    shape->values.assign(mean_dbm.begin() + peak + window.first,
                         mean_dbm.begin() + peak + window.second + 1);
    double norm = 0;
    for (const double v : shape->values) {
        norm += v * v;
    }
    norm = std::sqrt(norm);
    if (!(norm > 0) || shape->peak_dbm >= 0) {
        *error = "the spectrum holds no power in dBm to shape";
        return false;
    }
    for (double& v : shape->values) {
        v /= norm;
    }
    return true;
}

std::string FormatRecord(int id, const std::string& name, const std::vector<Shape>& shapes) {
    std::string out = std::to_string(id) + " " + name + " " + std::to_string(shapes.size());
    char buf[32];
    for (const Shape& s : shapes) {
        out += " " + std::to_string(s.first) + " " + std::to_string(s.last) + " ";
        for (size_t i = 0; i < s.values.size(); i++) {
            snprintf(buf, sizeof(buf), "%s%.6f", i == 0 ? "" : ",", s.values[i]);
            out += buf;
        }
    }
    return out;
}

}  // namespace signature
