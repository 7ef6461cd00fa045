// The signature file as a user might have edited it: any bytes, parsed from
// a file exactly as at start-up, then every parsed signature compared with
// spectra whose peaks sit at the edges and in the middle of the subband.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "shapematch_module.h"

namespace {

// 56 dBm values with a strong band around `peak` over a -95 dBm floor.
std::vector<float> SpectrumWithPeak(int peak, uint8_t tilt) {
    std::vector<float> spectrum(56, -95.0f);
    for (int b = peak - 4; b <= peak + 4; b++) {
        if (b >= 0 && b < 56) {
            const int d = b > peak ? b - peak : peak - b;
            spectrum[b] = -40.0f - 6.0f * static_cast<float>(d) - static_cast<float>(tilt % 8);
        }
    }
    return spectrum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShapeMetrics::ResetForTests();
    const std::string path = fuzz::WriteTempFile("signatures", data, size);
    ShapeMetrics::ParseSpecShape(path);

    const uint8_t tilt = size > 0 ? data[size - 1] : 0;
    const std::vector<float> duty(56, 0.5f);
    for (const int peak : {0, 1, 27, 54, 55}) {
        const std::vector<float> spectrum = SpectrumWithPeak(peak, tilt);
        std::vector<HighDutyMetrics> metrics;
        ShapeMetrics::ObtainShapeMetrics(spectrum, duty, CONST_MIN_PEAK_RSSI_HIGHDUTY, metrics);
        for (const auto& entry : ShapeMetrics::shape_map) {
            entry.second.GetMinTheta(spectrum, peak);
        }
    }
    // Each line also goes straight to the record parser, comments and all.
    std::string line;
    for (size_t i = 0; i <= size; i++) {
        if (i == size || data[i] == '\n') {
            DeviceSignatures record(line);
            (void)record;
            line.clear();
        } else {
            line += static_cast<char>(data[i]);
        }
    }
    ShapeMetrics::ResetForTests();
    return 0;
}
