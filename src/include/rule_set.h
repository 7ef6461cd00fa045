// The two rule sets the classifiers can run under, chosen once at start-up.
// "standard" is the long-standing behaviour, kept exactly. "refined" changes
// pulse detection thresholds and classifier and tracker decisions (never the
// datagram decoding or the power conversion), each change for a physical
// reason given beside its field. Every classifier consults ActiveRules();
// with the standard set every refined hook is a no-op.
#ifndef TESSARON_RULE_SET_H
#define TESSARON_RULE_SET_H

#include <string>

enum class RuleSetId { kStandard, kRefined };

struct RuleSet {
    RuleSetId id;
    const char* name;

    // --- Pulse detection ---------------------------------------------------
    // Cut pulses against the noise floor measured on each channel instead of
    // the fixed -85 dBm: the card's floor sits near -95 dBm, so the fixed
    // floor throws away the 10 dB where a headset in the next room lives.
    bool floor_follows_noise;
    // A bin joins a pulse when it stands this far above the measured mean
    // noise power. Noise power per bin is exponential (Rayleigh amplitude):
    // a lone bin exceeds mean + 8 dB with probability exp(-6.3) = 1.8e-3, so
    // edges are found but nothing starts from this level alone.
    float join_margin_db;
    // A pulse needs one bin this far above the mean noise:
    // P = exp(-10^(13/10)) = exp(-20) = 2e-9 per bin and sample, about one
    // lone false bin per 10 minutes over 56 bins at 17,500 samples/s, and
    // a pulse with any duration needs two samples in a row (~4e-18).
    float peak_margin_db;
    // The pulse floor never rises above the fixed standard floor, so a
    // wide emitter that lifts the floor estimate cannot blind the detector.
    float max_pulse_floor_dbm;
    // Hopper tests keep pulses whose peak stands this far above the noise
    // (standard: fixed -75 dBm). 3 bins of a -75..-80 dBm headset peak at
    // about -80 dBm, 15 dB above the floor.
    float hopper_peak_margin_db;

    // --- Timing ------------------------------------------------------------
    // Pulse durations are judged in units of the card's measured sample
    // interval: a burst of length L sampled every T us shows a duration
    // between L - T and L, give or take the timestamp jitter.
    bool durations_in_sample_intervals;

    // --- Microwave oven ----------------------------------------------------
    // An oven is an on-phase of several ms gated at the mains frequency
    // whose peak sweeps continuously over several MHz, not any pair of
    // packets whose peak bins differ.
    bool oven_needs_on_phases;

    // --- High-duty devices -------------------------------------------------
    // A continuous carrier is judged by its occupied bandwidth first: wider
    // than 10 MHz is an FM video sender, narrower than 1 MHz an analog phone,
    // whatever ripple its shape carries.
    bool carrier_width_decides;
};

const RuleSet& StandardRules();
const RuleSet& RefinedRules();
// The rule set in force; standard until SelectRules is called.
const RuleSet& ActiveRules();
void SelectRules(RuleSetId id);
// "standard" or "refined"; false for any other name.
bool ParseRuleSetName(const std::string& name, RuleSetId* id);

#endif
