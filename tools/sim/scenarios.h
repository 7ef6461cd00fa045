// The catalogue of named RF scenarios and the generator that turns one into
// a stream of 1360-byte spectrum datagrams with its ground truth.
#ifndef TESSARON_SIM_SCENARIOS_H
#define TESSARON_SIM_SCENARIOS_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card_model.h"
#include "emitters.h"

namespace sim {

// Host time of elapsed time 0: replay is deterministic because the packet
// times are this epoch plus the card's elapsed time.
inline constexpr int64_t SIM_EPOCH_S = 1700000000;

struct Scenario {
    std::string name;
    std::string description;
    double duration_s = 30.0;
    bool clock_wrap = false;
    double attenuate_db = 0.0;  // applied to every emitter except Wi-Fi
    std::vector<std::unique_ptr<Emitter>> emitters;
};

struct ScenarioInfo {
    std::string name;
    std::string description;
    double duration_s;
};

std::vector<ScenarioInfo> ListScenarios();
// Builds a scenario; nullptr for an unknown name. duration_s <= 0 keeps the
// scenario's own length (emitters scheduled to outlast it are cut).
// attenuate_db weakens every emitter but the Wi-Fi traffic by that much.
std::unique_ptr<Scenario> BuildScenario(const std::string& name, uint32_t seed,
                                        double duration_s = 0.0, double attenuate_db = 0.0);

// Length of a shortened run of `scenario`: `run_s` seconds, or `run_s`
// past its last switch-off, never longer than the scenario itself.
double ShortRunSeconds(const Scenario& scenario, double run_s);

struct GeneratorStats {
    uint64_t samples = 0;
    uint64_t datagrams = 0;
    double seconds = 0.0;  // wall time spent
};

// One datagram ready to go: wire bytes and the host time it is sent at.
using DatagramSink =
    std::function<bool(const uint8_t* wire, size_t len, int64_t host_sec, int64_t host_usec)>;

// Runs the card over the scenario and hands every datagram to `sink`
// (which returns false to stop early).
GeneratorStats RunScenario(Scenario& scenario, const CardConfig& card, uint32_t seed,
                           const DatagramSink& sink);

// Ground truth as JSON text.
std::string TruthJson(const Scenario& scenario, const CardConfig& card, uint32_t seed);

}  // namespace sim

#endif
