// Spectral shape metrics. A fixed-frequency transmitter shows up in a
// subband's averaged spectrum as a band of bins above -80 dBm around a peak;
// the band is grown down to -90 dBm, described by its width, its energy width
// (bins within 15 dB of the peak) and the duty cycle around the peak, and its
// shape around the peak is compared with each known device's stored
// signatures by the angle between the two unit-length vectors.
#include "shapematch_module.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

std::map<PulseType, DeviceSignatures> ShapeMetrics::shape_map;

namespace {

constexpr float NO_SHAPE_THETA = 1000.0f;  // reported for a device without shapes
constexpr float ENERGY_WIDTH_DROP_DB = 15.0f;

// Euclidean scaling to unit length; a zero vector is left as it is rather
// than turned into NaNs.
void ScaleToUnitLength(std::vector<float>& values) {
    float sumsq = 0.0f;
    for (float v : values) {
        sumsq += v * v;
    }
    const float norm = sqrtf(sumsq);
    if (norm <= 0.0f) {
        return;
    }
    for (float& v : values) {
        v = v / norm;
    }
}

bool IsWholeNumber(const std::string& token, bool integer) {
    if (token.empty()) {
        return false;
    }
    char* end = nullptr;
    if (integer) {
        (void)strtol(token.c_str(), &end, 10);
    } else {
        (void)strtod(token.c_str(), &end);
    }
    return end != token.c_str() && *end == '\0';
}

// The first token of a record line that should be a number and is not (it
// is read as 0), or an empty string.
std::string FirstNonNumber(const std::string& line) {
    std::vector<std::string> tokens;
    split(rtrim(line), " ", tokens);
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i == 1) {
            continue;  // the device name
        }
        if (i < 3 || (i - 3) % 3 != 2) {
            if (!IsWholeNumber(tokens[i], true)) {
                return tokens[i];
            }
            continue;
        }
        std::vector<std::string> values;
        split(rtrim(tokens[i]), ",", values);
        for (const std::string& v : values) {
            if (!IsWholeNumber(v, false)) {
                return v;
            }
        }
    }
    return std::string();
}

// The part of a stored shape that lies over the subband's bins when its
// window runs from window_start to window_end, re-scaled to unit length;
// the whole shape as stored when the window lies within bins 0..last_bin.
std::vector<float> ShapeOverBins(const std::vector<float>& shape, long long window_start,
                                 long long window_end, int last_bin) {
    if (window_start >= 0 && window_end <= last_bin) {
        return shape;
    }
    const unsigned long long cut_front =
        window_start < 0 ? static_cast<unsigned long long>(-window_start) : 0;
    const unsigned long long cut_back =
        window_end > last_bin ? static_cast<unsigned long long>(window_end - last_bin) : 0;
    std::vector<float> part;
    if (cut_front + cut_back < shape.size()) {
        part.assign(shape.begin() + cut_front, shape.end() - cut_back);
    }
    ScaleToUnitLength(part);
    return part;
}

// A record whose shape holds another number of values than its offsets
// span is compared over the shorter length; the file's author is told.
void WarnShapeLengths(const DeviceSignatures& record, const std::string& spec_file,
                      int line_number) {
    for (size_t i = 0; i < record.signature_list.size(); ++i) {
        const long expected =
            static_cast<long>(record.offset_list[i].second) - record.offset_list[i].first + 1;
        const long actual = static_cast<long>(record.signature_list[i].size());
        if (expected != actual) {
            std::cerr << "Warning... signature file " << spec_file << " line " << line_number
                      << ": shape " << (i + 1) << " of device " << record.dev_id << " holds "
                      << actual << " values for offsets " << record.offset_list[i].first << " to "
                      << record.offset_list[i].second << " (" << expected
                      << " bins); compared over the shorter length\n";
        }
    }
}

// Without these two the high-duty analysis can never name an analog phone
// or a video camera.
void WarnMissingSignatures(const std::map<PulseType, DeviceSignatures>& shapes,
                           const std::string& spec_file) {
    for (const PulseType needed : {PULSE_ANALOGPHONE, PULSE_VIDEOCAM}) {
        if (shapes.find(needed) == shapes.end()) {
            std::cerr << "Warning... signature file " << spec_file
                      << " has no signature for device " << static_cast<int>(needed) << " ("
                      << RssiPulse::getClassification(needed)
                      << "): such devices cannot be recognised\n";
        }
    }
}

}  // namespace

DeviceSignatures::DeviceSignatures(std::string input_string)
    : dev_id(static_cast<PulseType>(0)), num_shapes(0), valid(false) {
    std::vector<std::string> contents;
    split(rtrim(input_string), " ", contents);
    if (contents.size() < 3) {
        return;
    }
    dev_id = static_cast<PulseType>(stoint(contents[0]));
    dev_name = contents[1];
    num_shapes = stoint(contents[2]);
    // Every shape needs its two offsets and its value token; a short record
    // would otherwise read past the end of its tokens.
    const long long needed = 3 + 3LL * num_shapes;
    if (num_shapes < 0 || static_cast<long long>(contents.size()) < needed) {
        return;
    }
    for (int i = 0; i < num_shapes; ++i) {
        const int first = stoint(contents[3 + 3 * i]);
        const int last = stoint(contents[4 + 3 * i]);
        offset_list.emplace_back(first, last);
        std::vector<std::string> pieces;
        split(rtrim(contents[5 + 3 * i]), ",", pieces);
        std::vector<float> shape;
        shape.reserve(pieces.size());
        for (const std::string& piece : pieces) {
            shape.push_back(stofloat(piece));
        }
        signature_list.push_back(shape);
    }
    valid = true;
}

float DeviceSignatures::GetMinTheta(const std::vector<float>& db_avg_list, int peak_index) const {
    float mintheta = NO_SHAPE_THETA;
    const int last_bin = static_cast<int>(db_avg_list.size()) - 1;
    const size_t count = std::min(signature_list.size(), offset_list.size());
    for (size_t i = 0; i < count; ++i) {
        // In 64 bits: offsets come from a hand-edited file and may be huge.
        const long long window_start = static_cast<long long>(peak_index) + offset_list[i].first;
        const long long window_end = static_cast<long long>(peak_index) + offset_list[i].second;
        // Clamped on both sides before narrowing: a window that lies wholly
        // beyond the subband is empty, never an index that wrapped round.
        const int start_index =
            static_cast<int>(std::clamp<long long>(window_start, 0, last_bin + 1));
        const int end_index = static_cast<int>(std::clamp<long long>(window_end, -1, last_bin));

        std::vector<float> sub_spec;
        for (int b = start_index; b <= end_index; ++b) {
            sub_spec.push_back(db_avg_list[b]);
        }
        ScaleToUnitLength(sub_spec);

        const std::vector<float> sub_specsig =
            ShapeOverBins(signature_list[i], window_start, window_end, last_bin);

        if (sub_specsig.size() != sub_spec.size()) {
            std::cout << "Error! Subspec sizes don't match" << std::endl;
            std::cout << "sub_specsig.size(): " << sub_specsig.size()
                      << "sub_spec.size(): " << sub_spec.size();
        }
        const float theta = GetTheta(sub_spec, sub_specsig);
        if (theta < mintheta) {
            mintheta = theta;
        }
    }
    return mintheta;
}

float DeviceSignatures::GetTheta(const std::vector<float>& reference_specshape,
                                 const std::vector<float>& input_specshape) {
    // Over the shorter of the two: a stored shape that does not match its
    // window must never be read past its end.
    const size_t n = std::min(reference_specshape.size(), input_specshape.size());
    float dot = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        dot += reference_specshape[i] * input_specshape[i];
    }
    if (dot > 1.0f) {
        dot = 1.0f;
    }
    if (dot < -1.0f) {
        dot = -1.0f;
    }
    return acosf(dot);
}

void ShapeMetrics::InitShapeMetrics(std::string input_file) {
    ParseSpecShape(input_file);
}

void ShapeMetrics::ParseSpecShape(std::string spec_file) {
    std::ifstream in(spec_file);
    if (!in.is_open()) {
        const int reason = errno;
        std::cout << "Could not open file... Exiting...\n" << std::endl;
        std::cerr << "Cannot open signature file " << spec_file << ": " << strerror(reason) << "\n";
        exit(1);
    }
    ParseSignatureLines(in, spec_file);
}

bool ShapeMetrics::ReloadShapeMetrics(const std::string& spec_file, std::string* error) {
    std::ifstream in(spec_file);
    if (!in.is_open()) {
        *error = strerror(errno);
        return false;
    }
    // Only the signatures change: tracked devices and the subband history
    // stay as they are, and the next high-duty pass uses the new shapes.
    shape_map.clear();
    ParseSignatureLines(in, spec_file);
    return true;
}

void ShapeMetrics::ParseSignatureLines(std::istream& in, const std::string& spec_file) {
    std::string line;
    int line_number = 0;
    while (in.good()) {
        std::getline(in, line);
        ++line_number;
        if (line.empty()) {
            break;
        }
        if (line[0] == '#') {
            continue;
        }
        const std::string bad_number = FirstNonNumber(line);
        if (!bad_number.empty()) {
            std::cerr << "Warning... signature file " << spec_file << " line " << line_number
                      << ": \"" << bad_number << "\" is not a number, read as 0\n";
        }
        DeviceSignatures record(line);
        if (!record.valid) {
            std::cerr << "Warning... signature file " << spec_file << " line " << line_number
                      << ": fewer tokens than the announced shapes need, record ignored: " << line
                      << "\n";
            continue;
        }
        WarnShapeLengths(record, spec_file, line_number);
        shape_map.insert(std::make_pair(record.dev_id, record));
    }
    WarnMissingSignatures(shape_map, spec_file);
}

void ShapeMetrics::ObtainShapeMetrics(const std::vector<float>& db_avg_list,
                                      const std::vector<float>& duty_avg_list, int adaptive_nf,
                                      std::vector<HighDutyMetrics>& highdutymetrics_list,
                                      float edge_dbm) {
    std::vector<std::vector<int>> bands;
    ObtainPeakPowerIndices(db_avg_list, adaptive_nf, bands, edge_dbm);
    for (const std::vector<int>& band : bands) {
        const int s = band[0];
        const int e = band[1];
        const int p = band[2];
        HighDutyMetrics m;
        m.subband_object = nullptr;
        m.norm_cfreq_bin = p;
        m.norm_cfreq_rssi = static_cast<int>(db_avg_list[p]);
        m.norm_bw = e - s + 1;
        m.norm_start_bin = s;
        m.norm_end_bin = e;
        float weighted_width = 0.0f;
        determineSimpleBand(s, e, p, db_avg_list, weighted_width);
        m.weighted_cfreq_bin = p;
        m.weighted_cfreq_rssi = static_cast<int>(db_avg_list[p]);
        m.weighted_bw = static_cast<int>(ceilf(weighted_width));
        const std::pair<float, float> duty = GetDutyInformation(duty_avg_list, p);
        m.duty_max = duty.first;
        m.duty_avg = duty.second;
        for (const auto& entry : shape_map) {
            m.mintheta_map[entry.first] = entry.second.GetMinTheta(db_avg_list, p);
        }
        highdutymetrics_list.push_back(m);
    }
}

void ShapeMetrics::ObtainPeakPowerIndices(const std::vector<float>& avg_rssi_list, int adaptive_nf,
                                          std::vector<std::vector<int>>& peakRssIndexList,
                                          float edge_dbm) {
    const int num_bins = static_cast<int>(avg_rssi_list.size());
    const float floor_dbm = static_cast<float>(adaptive_nf);
    std::vector<std::pair<int, float>> peaks;
    int run_start = -1;
    for (int b = 0; b < num_bins; ++b) {
        const bool high = !(avg_rssi_list[b] < floor_dbm);
        if (high && run_start < 0) {
            run_start = b;
        }
        const bool run_ends = run_start >= 0 && (!high || b == num_bins - 1);
        if (run_ends) {
            const int run_end = high ? b : b - 1;
            const int p = GetPeakRssiIndexInRange(avg_rssi_list, run_start, run_end);
            peaks.emplace_back(p, avg_rssi_list[p]);
            run_start = -1;
        }
    }
    std::stable_sort(peaks.begin(), peaks.end(), MyCompFunc);
    for (const std::pair<int, float>& peak : peaks) {
        if (!IsNewPeak(peakRssIndexList, peak.first)) {
            continue;
        }
        int start = peak.first;
        int end = peak.first;
        GetInterestingBand(avg_rssi_list, peak.second, peak.first, start, end, edge_dbm);
        peakRssIndexList.push_back({start, end, peak.first});
        std::cout << "Peak indices: " << start << " " << end << " " << peak.first << "\n";
    }
}

int ShapeMetrics::GetPeakRssiIndexInRange(const std::vector<float>& rssi_list, int start, int end) {
    const int last_bin = static_cast<int>(rssi_list.size()) - 1;
    start = std::max(start, 0);
    end = std::min(end, last_bin);
    if (start > end) {
        return std::max(std::min(start, last_bin), 0);
    }
    // The first bin seeds the ties, so a range that opens on an unreadable
    // (NaN) power still names a bin of the range.
    std::vector<int> tied{start};
    float best = rssi_list[start];
    for (int b = start + 1; b <= end; ++b) {
        if (rssi_list[b] > best) {
            best = rssi_list[b];
            tied.clear();
            tied.push_back(b);
        } else if (rssi_list[b] == best) {
            tied.push_back(b);
        }
    }
    return tied[tied.size() / 2];
}

void ShapeMetrics::GetInterestingBand(const std::vector<float>& rssi_list, float peak_rssi,
                                      int peak_index, int& start_index, int& end_index,
                                      float edge_dbm) {
    const int last_bin = static_cast<int>(rssi_list.size()) - 1;
    start_index = peak_index;
    end_index = peak_index;
    const float floor_dbm = edge_dbm;
    for (int i = peak_index - 1; i >= 0; --i) {
        if (rssi_list[i] < floor_dbm || rssi_list[i] > peak_rssi) {
            break;
        }
        start_index = i;
    }
    if (peak_index <= last_bin - 1) {
        for (int i = peak_index + 1; i <= last_bin; ++i) {
            if (rssi_list[i] < floor_dbm || rssi_list[i] > peak_rssi) {
                break;
            }
            end_index = i;
        }
    }
    std::cout << "GetInterestingBand: " << peak_index << " " << start_index << " " << end_index
              << "\n";
}

void ShapeMetrics::determineSimpleBand(int minval, int maxval, int peakval,
                                       const std::vector<float>& rssi_list,
                                       float& subbandBandwidth) {
    const int num_bins = static_cast<int>(rssi_list.size());
    if (peakval < 0 || peakval >= num_bins) {
        subbandBandwidth = 0.0f;
        return;
    }
    const float peak = rssi_list[peakval];
    int low = peakval;
    while (low - 1 >= std::max(minval, 0) && peak - rssi_list[low - 1] <= ENERGY_WIDTH_DROP_DB) {
        --low;
    }
    int high = peakval;
    while (high + 1 <= std::min(maxval - 1, num_bins - 1) &&
           peak - rssi_list[high + 1] <= ENERGY_WIDTH_DROP_DB) {
        ++high;
    }
    subbandBandwidth = static_cast<float>(high - low);
}

std::pair<float, float> ShapeMetrics::GetDutyInformation(const std::vector<float>& avg_duty_list,
                                                         int peak_index) {
    const int last_bin = static_cast<int>(avg_duty_list.size()) - 1;
    const int from = std::max(peak_index - 1, 0);
    const int to = std::min(peak_index + 1, last_bin);
    if (from > to) {
        return std::make_pair(0.0f, 0.0f);
    }
    float duty_max = 0.0f;
    float duty_sum = 0.0f;
    for (int b = from; b <= to; ++b) {
        duty_max = std::max(duty_max, avg_duty_list[b]);
        duty_sum += avg_duty_list[b];
    }
    return std::make_pair(duty_max, duty_sum / static_cast<float>(to - from + 1));
}

bool ShapeMetrics::IsNewPeak(std::vector<std::vector<int>>& pulse_start_end_tuple_list, int index) {
    for (const std::vector<int>& band : pulse_start_end_tuple_list) {
        if (band.size() >= 2 && band[0] <= index && index <= band[1]) {
            return false;
        }
    }
    return true;
}

bool ShapeMetrics::MyCompFunc(std::pair<int, float> p1, std::pair<int, float> p2) {
    return p1.second > p2.second;
}

void ShapeMetrics::ResetForTests() {
    shape_map.clear();
}
