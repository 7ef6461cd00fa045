// An energy log handed to tessaron-signature: any bytes, read line by line
// into the per-channel means, then every channel's mean cut into a shape
// with the default windows of the phone, the video sender and another
// class, and formatted as a record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    signature::SpectrumAverage average;
    signature::Warnings warnings(0);
    signature::AddEnergyLog(std::string(reinterpret_cast<const char*>(data), size), average,
                            warnings);
    for (const uint16_t channel : {2412, 2422, 2437, 2442, 2452, 2462}) {
        if (average.Count(channel) == 0) {
            continue;
        }
        const auto mean = average.Mean(channel);
        for (const int id : {1, 3, 7}) {
            signature::Shape shape;
            std::string error;
            if (signature::MakeShape(mean, signature::DefaultWindow(id, mean), &shape, &error)) {
                signature::FormatRecord(id, "Fuzzed", {shape});
            }
        }
    }
    return 0;
}
