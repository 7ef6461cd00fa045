// The access-point mapping file as edited by hand: any bytes, read from a
// file by the same call the constructor makes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "subband_analyser_class.h"

namespace {

SubBandAnalyser& Analyser() {
    static std::unique_ptr<SubBandAnalyser> analyser = [] {
        fuzz::ResetProcessState();
        return std::make_unique<SubBandAnalyser>("output.txt", 100000000, fuzz::ShippedSignatures(),
                                                 65535);
    }();
    return *analyser;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SubBandAnalyser& analyser = Analyser();
    analyser.access_point_map.clear();
    analyser.access_point_name_map.clear();
    analyser.reference_mac.clear();
    const std::string path = fuzz::WriteTempFile("mapping", data, size);
    analyser.GetApInformation(path);
    // What the constructor does next: look the default radio's name up.
    std::string mac = CONST_DEFAULT_AP_MAC;
    stoupper(mac);
    (void)analyser.access_point_name_map[mac];
    return 0;
}
