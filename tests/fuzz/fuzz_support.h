// Shared pieces of the fuzz targets: a process-wide reset between inputs, a
// host clock that the input drives, and temporary files for the parsers that
// read from a path.
#ifndef TESSARON_TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESSARON_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "device_analyzer.h"
#include "host_clock.h"
#include "shapematch_module.h"
#include "spectrum_data.h"
#include "tessaron_main.h"

namespace fuzz {

// The host clock seen by the analysis; inputs move it.
inline timeval& FakeNow() {
    static timeval now = {1700000000, 0};
    return now;
}
inline void FakeClock(timeval* out) {
    *out = FakeNow();
}
inline void AdvanceClock(uint64_t us) {
    timeval& now = FakeNow();
    const uint64_t total = static_cast<uint64_t>(now.tv_usec) + us;
    now.tv_sec += static_cast<time_t>(total / 1000000);
    now.tv_usec = static_cast<suseconds_t>(total % 1000000);
}

// Everything the analysis keeps between datagrams outside the analyser
// object: tracked devices, the UI average, spectrum statistics, log names.
inline void ResetProcessState() {
    DeviceAnalyzer::ResetForTests();
    ExternalInterface::ResetForTests();
    ExternalInterface::InitUIAverage();
    SpectrumMeasurement::ResetSpectrumMeasurements();
    FakeNow() = {1700000000, 0};
    SetHostClock(FakeClock);
}

// A file of this process holding exactly the given bytes.
inline std::string WriteTempFile(const char* tag, const uint8_t* data, size_t size) {
    const std::string path =
        "/tmp/tessaron-fuzz-" + std::string(tag) + "-" + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        if (size > 0) {
            std::fwrite(data, 1, size, f);
        }
        std::fclose(f);
    }
    return path;
}

// The signature file shipped with the daemon.
inline std::string ShippedSignatures() {
    return std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";
}

// Diagnostics on stdout would only slow the fuzzer down.
inline void SilenceStdout() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::perror("freopen");
    }
}

}  // namespace fuzz

#endif
