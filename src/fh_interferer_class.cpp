// Frequency-hopping device record: a hopper is recognised again by its class
// alone (it moves over the whole band, so its bins say nothing); merging
// widens its time spans and keeps the latest power.
#include "fh_interferer_class.h"

#include <algorithm>
#include <ctime>
#include <iostream>
#include <sstream>

#include "host_clock.h"

timeval EarlierHostTime(const timeval& a, const timeval& b) {
    if (a.tv_sec != b.tv_sec) {
        return a.tv_sec < b.tv_sec ? a : b;
    }
    return a.tv_usec <= b.tv_usec ? a : b;
}

timeval LaterHostTime(const timeval& a, const timeval& b) {
    if (a.tv_sec != b.tv_sec) {
        return a.tv_sec > b.tv_sec ? a : b;
    }
    return a.tv_usec >= b.tv_usec ? a : b;
}

std::string FormatLocalTime(const timeval& t) {
    const time_t secs = t.tv_sec;
    tm local{};
    char text[32] = {0};
    if (localtime_r(&secs, &local) != nullptr) {
        strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    }
    return text;
}

FhInterferer::FhInterferer(const std::vector<RssiPulse>& pulse_list, PulseType classification,
                           u64 start_time, u64 end_time, float device_rssi, int count_pulses)
    : start_time(start_time),
      pulse_list(pulse_list),
      end_time(end_time),
      count_pulses(count_pulses),
      classification(classification),
      host_start_time{0, 0},
      host_end_time{0, 0},
      average_slot_start_time(0),
      device_rssi(device_rssi) {}

int FhInterferer::GetHostDuration() const {
    return static_cast<int>(host_end_time.tv_sec - host_start_time.tv_sec);
}

bool FhInterferer::IsMatchingInterferer(FhInterferer& new_interferer) const {
    const PulseType mine = classification;
    const PulseType theirs = new_interferer.classification;
    std::cout << "my classification: " << static_cast<int>(mine)
              << " new classification: " << static_cast<int>(theirs) << "\n";
    // A generic hopper and an FHSS handset are the same phone seen with and
    // without enough pulses to name it.
    const bool generic_and_handset = (mine == PULSE_FH_DEVICE && theirs == PULSE_FHSSPHONE_HIGH) ||
                                     (mine == PULSE_FHSSPHONE_HIGH && theirs == PULSE_FH_DEVICE);
    if (mine == theirs || generic_and_handset) {
        return true;
    }
    std::cout << "FhInterferer::IsMatchingInterferer false: no classification match...\n";
    return false;
}

PulseType FhInterferer::GetNewClassification(PulseType new_classification) const {
    if (new_classification == PULSE_FHSSPHONE_HIGH || new_classification == classification) {
        return new_classification;
    }
    return classification;
}

void FhInterferer::UpdateInterfererInstance(const FhInterferer& new_interferer) {
    pulse_list.insert(pulse_list.end(), new_interferer.pulse_list.begin(),
                      new_interferer.pulse_list.end());
    start_time = std::min(start_time, new_interferer.start_time);
    end_time = std::max(end_time, new_interferer.end_time);
    device_rssi = new_interferer.device_rssi;
    classification = GetNewClassification(new_interferer.classification);
    count_pulses += new_interferer.count_pulses;
    host_start_time = EarlierHostTime(host_start_time, new_interferer.host_start_time);
    host_end_time = LaterHostTime(host_end_time, new_interferer.host_end_time);
}

std::string FhInterferer::toString() const {
    timeval now{};
    GetHostTime(&now);
    std::ostringstream line;
    line << "FreqHop: " << now.tv_sec << " " << FormatLocalTime(now) << " "
         << static_cast<int>(classification) << " 2400 " << count_pulses << " "
         << CONST_SUBBAND_CENTER_BIN << " " << CONST_SUBBAND_LAST_BIN << " "
         << host_start_time.tv_sec << " " << host_end_time.tv_sec << " " << GetHostDuration() << " "
         << device_rssi << "\n";
    return line.str();
}
