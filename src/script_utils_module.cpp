#include "script_utils_module.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

int GetNumSubbandFreq() {
    return static_cast<int>(sizeof(CONST_CENTER_FREQUENCIES) / sizeof(CONST_CENTER_FREQUENCIES[0]));
}

int GetFreqToBin(float curr_freq) {
    for (int i = 0; i < GetNumSubbandFreq(); i++) {
        if (CONST_CENTER_FREQUENCIES[i] == curr_freq) {
            return i;
        }
    }
    std::cerr << "Warning... GetFreqToBin: " << curr_freq << " not found..\n";
    return -1;
}

float GetAdaptiveNF(float avg_nf, float const_nf) {
    return const_nf > avg_nf ? const_nf : avg_nf;
}

void calc_mean_stdev(const std::vector<float>& listin, float& mean, float& stdev) {
    mean = -1.0f;
    stdev = -1.0f;
    if (listin.empty()) {
        return;
    }
    float sum = 0.0f;
    float sumsq = 0.0f;
    for (const float x : listin) {
        sum += x;
        sumsq += x * x;
    }
    const float n = static_cast<float>(listin.size());
    mean = sum / n;
    // Rounding can make the single-precision variance a hair negative for a
    // constant list; the spread of identical values is zero, not NaN.
    const float variance = sumsq / n - mean * mean;
    stdev = variance > 0.0f ? sqrtf(variance) : 0.0f;
}

float calc_median(const std::vector<float>& listin) {
    if (listin.empty()) {
        return 0.0f;
    }
    std::vector<float> sorted(listin);
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    if (n % 2 == 1) {
        return sorted[(n + 1) / 2 - 1];
    }
    return 0.5f * (sorted[n / 2 - 1] + sorted[n / 2]);
}

PowerTuple GetPulsePowerDistributionFromList(const std::vector<float>& power_list) {
    PowerTuple tuple = {0.0f, 0.0f, 0.0f, 0.0f};
    if (power_list.empty()) {
        return tuple;
    }
    float mean = 0.0f;
    float stdev = 0.0f;
    calc_mean_stdev(power_list, mean, stdev);
    const auto [smallest, largest] = std::minmax_element(power_list.begin(), power_list.end());
    tuple.min = -(*largest);
    tuple.max = -(*smallest);
    tuple.mean = -mean;
    tuple.stddev = stdev;
    return tuple;
}

std::vector<float> GetEmptyList(unsigned tot_cols) {
    return std::vector<float>(static_cast<uint16_t>(tot_cols), 0.0f);
}

std::vector<int> GetEmptyListInt(unsigned tot_cols) {
    return std::vector<int>(static_cast<uint16_t>(tot_cols), 0);
}

u64 abs(u64 number) {
    return number;
}

std::string getStr(int var) {
    return std::to_string(var);
}
std::string getStr(u64 var) {
    return std::to_string(var);
}

std::string getStr(double var) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%.2f", var);
    return buf;
}

std::string getStr(float var) {
    return getStr(static_cast<double>(var));
}
std::string inttostr(int number) {
    return std::to_string(number);
}
std::string u64tostr(u64 number) {
    return std::to_string(number);
}

std::string NumberedFeatureLine(const std::string& label, const std::vector<std::string>& values) {
    std::string line = label;
    for (size_t k = 0; k < values.size(); k++) {
        line += " " + std::to_string(k + 1) + ":" + values[k];
    }
    return line;
}

std::string floattostr(float number) {
    std::ostringstream out;
    out << number;
    return out.str();
}

int stoint(const std::string& str) {
    const char* begin = str.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = strtol(begin, &end, 10);
    if (end == begin) {
        return 0;
    }
    // Out-of-range text from a hand-edited file saturates instead of wrapping.
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

float stofloat(const std::string& str) {
    // Stream extraction reads plain decimal numbers only (no "nan", "inf" or
    // hexadecimal forms), which keeps non-finite values out of the analysis.
    std::istringstream in(str);
    float value = 0.0f;
    if (!(in >> value)) {
        return 0.0f;
    }
    return value;
}

void stoupper(std::string& s) {
    for (char& c : s) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
}

std::string rtrim(const std::string& pString) {
    const size_t last = pString.find_last_not_of(" \t");
    if (last == std::string::npos) {
        return std::string();
    }
    return pString.substr(0, last + 1);
}

void split(const std::string& str, const std::string& delimiters,
           std::vector<std::string>& tokens) {
    size_t start = str.find_first_not_of(delimiters, 0);
    while (start != std::string::npos) {
        const size_t end = str.find_first_of(delimiters, start);
        if (end == std::string::npos) {
            tokens.push_back(str.substr(start));
            return;
        }
        tokens.push_back(str.substr(start, end - start));
        start = str.find_first_not_of(delimiters, end);
    }
}
