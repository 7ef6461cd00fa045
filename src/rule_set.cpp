#include "rule_set.h"

namespace {

constexpr RuleSet kStandard = {
    RuleSetId::kStandard, "standard", false, 0.0f, 0.0f, -85.0f, 0.0f, false, false, false,
};

constexpr RuleSet kRefined = {
    RuleSetId::kRefined,
    "refined",
    true,    // floor_follows_noise
    8.0f,    // join_margin_db
    13.0f,   // peak_margin_db
    -85.0f,  // max_pulse_floor_dbm
    15.0f,   // hopper_peak_margin_db
    true,    // durations_in_sample_intervals
    true,    // oven_needs_on_phases
    true,    // carrier_width_decides
};

const RuleSet* active = &kStandard;

}  // namespace

const RuleSet& StandardRules() {
    return kStandard;
}

const RuleSet& RefinedRules() {
    return kRefined;
}

const RuleSet& ActiveRules() {
    return *active;
}

void SelectRules(RuleSetId id) {
    active = id == RuleSetId::kRefined ? &kRefined : &kStandard;
}

bool ParseRuleSetName(const std::string& name, RuleSetId* id) {
    if (name == "standard") {
        *id = RuleSetId::kStandard;
        return true;
    }
    if (name == "refined") {
        *id = RuleSetId::kRefined;
        return true;
    }
    return false;
}
