#include "hop_clear_time.h"

#include <algorithm>

#include "check_pulse_type.h"
#include "oven_on_phase.h"
#include "subband_class.h"

namespace {

// A hopper's packet (about 1 MHz) covers its centre bin and one bin either
// side; it is lost when any of them lies in a held band.
constexpr int HOP_PACKET_HALF_WIDTH_BINS = 1;

bool IsHeldByFixedEmitter(const SubBand& visit, int bin) {
    if (visit.filtermap.count(bin) > 0) {
        return true;
    }
    const std::vector<float>& duty = visit.duty_avg_list;
    return static_cast<size_t>(bin) < duty.size() &&
           CheckPulse::IsContinuousBinDuty(duty[static_cast<size_t>(bin)]);
}

u64 SpanOf(u64 start, u64 end) {
    return end > start ? end - start : 0;
}

// Adds to hidden, over the bins from lo to hi widened by a packet's half
// width, the time us.
void Hide(int lo, int hi, double us, BinClearTime& hidden) {
    const int first = std::max(lo - HOP_PACKET_HALF_WIDTH_BINS, 0);
    const int last = std::min(hi + HOP_PACKET_HALF_WIDTH_BINS, CONST_SUBBAND_LAST_BIN);
    for (int b = first; b <= last; b++) {
        hidden[static_cast<size_t>(b)] += us;
    }
}

}  // namespace

void AddVisitClearTime(const SubBand& visit, BinClearTime& clear_us) {
    const double dwell = static_cast<double>(SpanOf(visit.start_time, visit.end_time));
    BinClearTime hidden{};
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        if (IsHeldByFixedEmitter(visit, b)) {
            Hide(b, b, dwell, hidden);
        }
    }
    if (HasOvenOnPhases(visit)) {
        for (const OvenOnPhaseSpan& span : visit.drift_analyser.oven_on_phase_spans) {
            const std::pair<int, int> bins = OvenOnPhaseBins(span);
            Hide(bins.first, bins.second, static_cast<double>(SpanOf(span.start, span.end)),
                 hidden);
        }
    }
    for (size_t b = 0; b < clear_us.size(); b++) {
        clear_us[b] += dwell - std::min(dwell, hidden[b]);
    }
}

BinClearTime HopClearTimePerBin(const std::list<SubBand>& visits,
                                std::list<SubBand>::const_iterator begin) {
    BinClearTime clear_us{};
    for (auto it = begin; it != visits.end(); ++it) {
        AddVisitClearTime(*it, clear_us);
    }
    return clear_us;
}
