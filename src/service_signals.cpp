#include "service_signals.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <map>

#include "device_analyzer.h"
#include "shapematch_module.h"
#include "signal_handlers.h"

namespace {

volatile sig_atomic_t reload_requested = 0;
volatile sig_atomic_t status_requested = 0;
const auto started = std::chrono::steady_clock::now();

void HandleServiceSignal(int sig) {
    if (sig == SIGHUP) {
        reload_requested = 1;
    } else {
        status_requested = 1;
    }
}

void ReloadSignatures(const std::string& spec_file) {
    std::string error;
    if (ShapeMetrics::ReloadShapeMetrics(spec_file, &error)) {
        std::cerr << "Reloaded signature file " << spec_file << ": "
                  << ShapeMetrics::shape_map.size() << " device signatures\n";
    } else {
        std::cerr << "Warning... cannot reload signature file " << spec_file << ": " << error
                  << "; keeping the " << ShapeMetrics::shape_map.size()
                  << " device signatures in service\n";
    }
}

}  // namespace

std::string FormatStatusLine(long uptime_seconds, const DatagramCounters& counters) {
    // By display name, so that the line reads the same from run to run.
    std::map<std::string, int> by_class;
    for (const FhInterferer& d : DeviceAnalyzer::ActiveHoppers()) {
        by_class[RssiPulse::getClassification(d.classification)]++;
    }
    for (const FixedFreqInterferer& d : DeviceAnalyzer::ActiveFixedDevices()) {
        by_class[RssiPulse::getClassification(d.classification)]++;
    }
    std::string devices;
    for (const auto& [name, count] : by_class) {
        devices += (devices.empty() ? "" : ", ") + std::to_string(count) + " " + name;
    }
    return "Status: up " + std::to_string(uptime_seconds) + " s, " +
           std::to_string(counters.samples) + " samples, " + std::to_string(counters.used) +
           " datagrams, active devices: " + (devices.empty() ? "none" : devices) +
           ", dropped: " + std::to_string(counters.wrong_size) + " wrong-sized, " +
           std::to_string(counters.bad_count) + " bad sample count, " +
           std::to_string(counters.off_centre) + " off-centre samples\n";
}

void InstallServiceSignals(SubBandAnalyser& analyser, const std::string& spec_file) {
    InstallSignalPair(SIGHUP, SIGUSR1, HandleServiceSignal);
    analyser.SetBetweenDatagrams(
        [&analyser, spec_file] { ServicePendingSignals(analyser, spec_file); });
}

void ServicePendingSignals(const SubBandAnalyser& analyser, const std::string& spec_file) {
    if (reload_requested) {
        reload_requested = 0;
        ReloadSignatures(spec_file);
    }
    if (status_requested) {
        status_requested = 0;
        const auto up = std::chrono::steady_clock::now() - started;
        std::cerr << FormatStatusLine(
            static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(up).count()),
            analyser.GetDatagramCounters());
    }
}
