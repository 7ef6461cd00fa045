// The classifier passes and when they run. A pass is due once every
// `period` cycles of closed subbands and reads the window of the
// period x subbands-per-cycle most recent subbands. The hopper pass has
// follow-ups that run on its window, each gated on its verdict.
#ifndef TESSARON_CLASSIFIER_TABLE_H
#define TESSARON_CLASSIFIER_TABLE_H

#include <list>
#include <vector>

#include "fhss_general_analyser.h"
#include "script_utils_module.h"
#include "subband_class.h"

class AccessPoint;
class SubBandAnalyser;

// What a pass works on: the subband history and the first subband of its
// window.
struct ClassifierWindow {
    SubBandAnalyser& analyser;
    AccessPoint& ap;
    std::list<SubBand>& history;
    std::list<SubBand>::iterator begin;
};

struct ClassifierPass {
    const char* name;
    u64 period_cycles;     // scanning the six channels
    u64 period_cycles_sc;  // on a single channel
    bool enabled;
    void (*run)(ClassifierWindow& window);
};

// In the order they run after a subband closes.
const std::vector<ClassifierPass>& ClassifierPasses();

// Whether a classifier with period K (in cycles) is due, P subbands making a
// cycle: (cycle_count * P + subband_count) mod (P * K) == 0.
bool IsClassifierDue(u64 cycle_count, u64 subband_count, u64 subbands_per_cycle, u64 period_cycles);
// Subbands per cycle and a pass's period, in the operation mode in force.
u64 ModeSubbandsPerCycle();
u64 PassPeriod(const ClassifierPass& pass);
bool IsPassDue(const ClassifierPass& pass, u64 cycle_count, u64 subband_count);
// Runs, in table order, every pass due at the access point's counts.
void RunDueClassifiers(SubBandAnalyser& analyser, AccessPoint& ap);

#endif
