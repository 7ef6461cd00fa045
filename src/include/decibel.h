#pragma once

#include <cmath>

// A power level in dB as a plain power ratio; for dBm this is milliwatts.
inline double DbToPowerRatio(double db) {
    return std::pow(10.0, db / 10.0);
}
