// Shared pieces of the fuzz targets: a process-wide reset between inputs
// (the fake host clock of the test kit is then the input's to drive), and
// temporary files for the parsers that read from a path.
#ifndef TESSARON_TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESSARON_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "channel_visit.h"
#include "device_analyzer.h"
#include "fake_host_clock.h"
#include "host_clock.h"
#include "shapematch_module.h"
#include "temp_dir.h"
#include "tessaron_main.h"

namespace fuzz {

// Everything the analysis keeps between datagrams outside the analyser
// object: tracked devices, the UI average, spectrum statistics, log names,
// parsed signatures.
inline void ResetProcessState() {
    DeviceAnalyzer::ResetForTests();
    ExternalInterface::ResetForTests();
    ShapeMetrics::ResetForTests();
    FakeHostClock::Set(1700000000);
    SetHostClock(FakeHostClock::Read);
}

// A file of this process holding exactly the given bytes.
inline std::string WriteTempFile(const char* tag, const uint8_t* data, size_t size) {
    const std::string path =
        "/tmp/tessaron-fuzz-" + std::string(tag) + "-" + std::to_string(getpid());
    WriteFile(path, data, size);
    return path;
}

// The signature file shipped with the daemon.
inline std::string ShippedSignatures() {
    return std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";
}

}  // namespace fuzz

#endif
