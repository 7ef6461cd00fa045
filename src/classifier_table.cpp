// The classifier table: every pass with its period, switch and run
// function, and the hopper pass's gated follow-ups.
#include "classifier_table.h"

#include <iostream>
#include <iterator>

#include "access_point.h"
#include "device_analyzer.h"
#include "highduty_general_analyzer.h"
#include "microwave_analyser.h"
#include "pipeline_class_module.h"
#include "rule_set.h"
#include "subband_analyser_class.h"
#include "xbox_analyser.h"
#include "zigbee_pulse_analyser.h"

namespace {

u64 InMode(u64 scan_value, u64 single_channel_value) {
    return CONST_OPERATION_MODE == CONST_OP_MODE_SCAN ? scan_value : single_channel_value;
}

// The window covers the W most recent subbands, or the whole history when
// it is shorter.
std::list<SubBand>::iterator WindowStart(std::list<SubBand>& history, u64 window) {
    const u64 n = history.size();
    auto it = history.begin();
    if (n > window) {
        std::advance(it, static_cast<long>(n - window));
    }
    return it;
}

void RunMicrowave(ClassifierWindow& w) {
    w.analyser.microwave_analyser->ComputeMetrics(w.history, w.begin, w.ap.mac_address);
}

void RunHighDuty(ClassifierWindow& w) {
    w.analyser.high_duty_analyzer->ComputeMetrics(w.history, w.begin);
    if (CONST_OPERATION_MODE == CONST_OP_MODE_SC) {
        for (auto it = w.begin; it != w.history.end(); ++it) {
            it->analogphone_tagging_completed = true;
        }
    }
}

// Pulses inside the bins of tracked fixed-frequency devices are left out,
// then the hoppers (and their follow-ups) are searched for, and the tracker
// ends the devices that went quiet.
void RunHopper(ClassifierWindow& w) {
    std::vector<std::pair<int, int>> filter_list;
    DeviceAnalyzer::ObtainFilterList(filter_list, true);
    w.analyser.ApplyFilterList(w.history, w.begin, filter_list);
    if (ActiveRules().oven_needs_on_phases) {
        SubBandAnalyser::DiscardOvenPulsesInWindow(w.history, w.begin);
    }
    {
        FreqHoppingsDeviceAnalyser hopper(
            w.history, w.begin, w.analyser.input_nkld_distribution_map, w.analyser.debug_id);
        hopper.BuildFreqHoppingPulseInfo();
        hopper.GetFeatures();
        std::cout << "SubBandAnalyser: subband_list " << w.ap.GetMacAddress() << " "
                  << InMode(CONST_NUM_CYCLES_FH_DEVICES, CONST_NUM_CYCLES_FH_DEVICES_SC) *
                         ModeSubbandsPerCycle()
                  << " " << w.history.size() << " " << w.ap.GetCycleCount() << "\n";
        for (auto it = w.begin; it != w.history.end(); ++it) {
            it->pulse_tagging_completed = true;
        }
        DeviceAnalyzer::EndInactiveDevices();
        DeviceAnalyzer::PrintDeviceStatus();
    }
    SubBandAnalyser::ReleaseAnalysedPulses(w.history);
}

}  // namespace

const std::vector<ClassifierPass>& ClassifierPasses() {
    static const std::vector<ClassifierPass> passes = {
        {"microwave", CONST_NUM_CYCLES_MICROWAVE, CONST_NUM_CYCLES_MICROWAVE_SC,
         CONST_DBG_CAN_CHECK_MWO != 0, RunMicrowave},
        {"high-duty", CONST_NUM_CYCLES_HIGHDUTY, CONST_NUM_CYCLES_HIGHDUTY_SC,
         CONST_DBG_CAN_CHECK_HIGHDUTY != 0, RunHighDuty},
        // Last: it frees the pulse lists once it is done.
        {"hopper", CONST_NUM_CYCLES_FH_DEVICES, CONST_NUM_CYCLES_FH_DEVICES_SC,
         CONST_DBG_CAN_CHECK_FHSS != 0, RunHopper},
    };
    return passes;
}

// The passes that run on the hopper pass's window right after it, each gated
// on its verdict: Zigbee always (an overfull window weakens it), the game
// controller only where no Bluetooth voice link explains the pulses.
const std::vector<HopperFollowUp>& HopperFollowUps() {
    static const std::vector<HopperFollowUp> follow_ups = {
        {"zigbee", [](const HopperVerdict&) { return true; },
         [](std::list<SubBand>& history, std::list<SubBand>::iterator begin, const HopperVerdict& v,
            int /*debug_id: the Zigbee pass prints no feature line*/) {
             ZigbeePulseAnalyser::DetermineZigbeePresence(history, begin, v.spurious);
         }},
        // Refined: the controller is looked for beside a voice link too.
        {"xbox",
         [](const HopperVerdict& v) {
             return !v.btsco_present || ActiveRules().hoppers_announced_separately;
         },
         [](std::list<SubBand>& history, std::list<SubBand>::iterator begin, const HopperVerdict& v,
            int debug_id) {
             XboxAnalyser xbox_analyser(history, begin, debug_id);
             xbox_analyser.voice_pair_starts = v.voice_pair_starts;
             xbox_analyser.phone_burst_starts = v.phone_burst_starts;
             xbox_analyser.GetFeatures();
         }},
    };
    return follow_ups;
}

bool IsClassifierDue(u64 cycle_count, u64 subband_count, u64 subbands_per_cycle,
                     u64 period_cycles) {
    if (cycle_count == 0) {
        return false;
    }
    return (cycle_count * subbands_per_cycle + subband_count) %
               (subbands_per_cycle * period_cycles) ==
           0;
}

u64 ModeSubbandsPerCycle() {
    return InMode(CONST_NUM_SUBBANDS_PER_CYCLE, CONST_NUM_SUBBANDS_PER_CYCLE_SC);
}

u64 PassPeriod(const ClassifierPass& pass) {
    return InMode(pass.period_cycles, pass.period_cycles_sc);
}

bool IsPassDue(const ClassifierPass& pass, u64 cycle_count, u64 subband_count) {
    return pass.enabled &&
           IsClassifierDue(cycle_count, subband_count, ModeSubbandsPerCycle(), PassPeriod(pass));
}

void RunDueClassifiers(SubBandAnalyser& analyser, AccessPoint& ap) {
    std::list<SubBand>& history = ap.completed_sub_bands_list;
    for (const ClassifierPass& pass : ClassifierPasses()) {
        if (!IsPassDue(pass, ap.GetCycleCount(), ap.GetSubbandCount())) {
            continue;
        }
        ClassifierWindow window{analyser, ap, history,
                                WindowStart(history, PassPeriod(pass) * ModeSubbandsPerCycle())};
        pass.run(window);
    }
}
