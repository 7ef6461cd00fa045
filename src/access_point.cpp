// The sensing radio's state: its latest sample clock and frequency, the
// history of subbands it has dwelt on, and the counters that pace the
// classifiers in cycles of closed subbands.
#include "access_point.h"

#include <iterator>
#include <utility>

#include "pipeline_class_module.h"

namespace {

// The cycle counter wraps after this many cycles, in both modes.
constexpr u64 kMaxCycleCount = static_cast<u64>(CONST_NUM_SUBBANDS_PER_CYCLE) * 200;

}  // namespace

AccessPoint::AccessPoint(std::string mac_address, u64 subband_curr_time, std::string ap_name)
    : ap_name(std::move(ap_name)),
      start_time(CONST_INVALID_TIME),
      prev_time(CONST_INVALID_TIME),
      prev_freq(-1.0f),
      curr_time(0),
      last_subband_change_time(subband_curr_time),
      curr_nf(0.0f),
      curr_freq(0.0f),
      cycle_count(0),
      subband_count(0),
      mac_address(std::move(mac_address)) {}

void AccessPoint::AddNewSubband(AccessPoint* parent, u64 start_time, float curr_freq, float curr_nf,
                                u64 sync_offset) {
    // Built in place: its pulses and drift record point back at it.
    completed_sub_bands_list.emplace_back(parent, start_time, curr_freq, curr_nf, sync_offset);
    // A busy band closes thousands of pulses per dwell; room for as many as
    // the previous dwell had saves growing (and copying) the list while
    // samples arrive.
    if (completed_sub_bands_list.size() >= 2) {
        const size_t previous =
            std::prev(completed_sub_bands_list.end(), 2)->completed_pulses_list.size();
        completed_sub_bands_list.back().completed_pulses_list.reserve(previous);
    }
}

void AccessPoint::RemoveLastSubband() {
    if (!completed_sub_bands_list.empty()) {
        completed_sub_bands_list.pop_back();
    }
}

void AccessPoint::UpdateApState() {
    // Trimmed in blocks of a whole history rather than one by one, so the
    // list holds between 121 and 240 subbands once it has filled.
    const size_t history = CONST_NUM_SUBBANDS_HISTORY;
    if (history == 0 || completed_sub_bands_list.size() <= 2 * history) {
        return;
    }
    auto last_dropped = completed_sub_bands_list.begin();
    std::advance(last_dropped, history);
    completed_sub_bands_list.erase(completed_sub_bands_list.begin(), last_dropped);
}

void AccessPoint::IncrementCycleCount() {
    const u64 subbands_per_cycle = CONST_OPERATION_MODE == CONST_OP_MODE_SCAN
                                       ? CONST_NUM_SUBBANDS_PER_CYCLE
                                       : CONST_NUM_SUBBANDS_PER_CYCLE_SC;
    AdvanceCycleCount(subbands_per_cycle);
}

void AccessPoint::AdvanceCycleCount(u64 subbands_per_cycle) {
    const u64 per_cycle = subbands_per_cycle == 0 ? 1 : subbands_per_cycle;
    subband_count += 1;
    if (subband_count % per_cycle != 0) {
        return;
    }
    cycle_count = cycle_count == kMaxCycleCount ? 1 : cycle_count + 1;
    subband_count = 0;
}
