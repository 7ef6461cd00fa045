// Device tracker: every batch of detections from one classifier pass is
// matched against the devices already tracked, merged or started, and the
// tracked devices are re-announced to the UI; devices unconfirmed for
// INACTIVITY_TIME host seconds are ended, logged and announced as ended.
#include "device_analyzer.h"

#include <iostream>
#include <string>

#include "check_pulse_type.h"
#include "event_sink.h"
#include "host_clock.h"
#include "rule_set.h"
#include "ui_event_text.h"

namespace {

// The tracked devices of each kind, and how many of each have ended.
std::vector<FhInterferer> active_fh_devices;
std::vector<FixedFreqInterferer> active_ffi_devices;
long completed_ffi_devices_count = 0;
long completed_fh_devices_count = 0;

constexpr long HOPPER_INITIAL_SPAN_SECONDS = 6;

timeval Now() {
    timeval now{};
    GetHostTime(&now);
    return now;
}

void PrintShortLived(int duration) {
    std::cout << "Not sending active/completed device as GetHostDuration " << duration << " < "
              << MIN_ACTIVE_HOST_SECONDS << "\n";
}

// Prints the device's UI text and hands the record to the outputs.
void Announce(const DeviceEventRecord& record) {
    std::cout << DeviceEventText(record) << "\n";
    EventSinks::ReportDevice(record);
}

template <typename Device>
DeviceEventRecord ActiveRecord(const Device& device, int index, int duration) {
    DeviceEventRecord record;
    record.index = index;
    record.classification = device.classification;
    record.first_seen_s = static_cast<long>(device.host_start_time.tv_sec);
    record.last_seen_s = static_cast<long>(device.host_end_time.tv_sec);
    record.duration_s = duration;
    return record;
}

DeviceEventRecord Describe(const FhInterferer& device, int index, int duration) {
    DeviceEventRecord record = ActiveRecord(device, index, duration);
    record.hopper = true;
    record.power_dbm = device.device_rssi;
    return record;
}

DeviceEventRecord Describe(const FixedFreqInterferer& device, int index, int duration) {
    DeviceEventRecord record = ActiveRecord(device, index, duration);
    record.power_dbm = -device.peak_rssi;
    record.band_cfreq_mhz = device.band_cfreq;
    record.start_bin = device.start_bin_number;
    record.center_bin = device.center_bin_number;
    record.end_bin = device.end_bin_number;
    return record;
}

// Confirmed by sightings rather than by time (see RuleSet).
bool ConfirmedBySightings(const FhInterferer&) {
    return false;
}

bool ConfirmedBySightings(const FixedFreqInterferer& device) {
    return ActiveRules().fixed_confirmed_in_one_pass && device.ViewsSeen() >= 2;
}

// A device is shown to the user, and its end announced, once it has lasted
// MIN_ACTIVE_HOST_SECONDS or has been confirmed by its sightings.
template <typename Device>
bool IsShown(const Device& device) {
    return device.GetHostDuration() >= MIN_ACTIVE_HOST_SECONDS || ConfirmedBySightings(device);
}

// Announces every tracked device present long enough, numbered from 1.
template <typename Device>
void AnnounceActive(const std::vector<Device>& active) {
    int index = 1;
    for (const Device& device : active) {
        const int duration = device.GetHostDuration();
        if (!IsShown(device)) {
            PrintShortLived(duration);
            continue;
        }
        Announce(Describe(device, index, duration));
        ++index;
    }
}

// Matches a batch against the tracked records: each record absorbs at most
// the first untaken detection it matches; detections nobody absorbed start
// new records. Only records that existed before the batch are matched.
template <typename Device>
void MergeBatch(std::vector<Device>& active, std::vector<Device>& detections,
                const char* push_text) {
    std::vector<bool> taken(detections.size(), false);
    std::vector<Device> merged;
    merged.reserve(active.size() + detections.size());
    for (Device& record : active) {
        for (size_t d = 0; d < detections.size(); ++d) {
            if (taken[d] || !record.IsMatchingInterferer(detections[d])) {
                continue;
            }
            taken[d] = true;
            record.UpdateInterfererInstance(detections[d]);
            record.set_host_end_time(Now());
            break;
        }
        merged.push_back(record);
    }
    active.swap(merged);
    for (size_t d = 0; d < detections.size(); ++d) {
        if (taken[d]) {
            continue;
        }
        detections[d].set_host_end_time(Now());
        active.push_back(detections[d]);
        std::cout << push_text;
    }
}

// Ends the records unconfirmed for INACTIVITY_TIME seconds: long-lived ones
// are logged and announced as ended, short-lived ones only reported.
// Returns how many ended.
template <typename Device>
long EndInactive(std::vector<Device>& active, const timeval& now, const std::string& label) {
    std::vector<Device> still_active;
    long ended = 0;
    for (Device& record : active) {
        if (now.tv_sec - record.host_end_time.tv_sec < INACTIVITY_TIME) {
            still_active.push_back(record);
            continue;
        }
        const int duration = record.GetHostDuration();
        const bool long_lived = IsShown(record);
        if (!long_lived) {
            PrintShortLived(duration);
            std::cout << label << " inactive lt: " << record.toString() << "\n";
        } else {
            const std::string text = label + " inactive gt: " + record.toString();
            std::cout << text << "\n";
            EventSinks::ReportLogLine(text);
        }
        ++ended;
        if (long_lived) {
            DeviceAnalyzer::SendCompletedDevicesFlag(record.classification, record.host_start_time);
        }
    }
    active.swap(still_active);
    return ended;
}

}  // namespace

void DeviceAnalyzer::AddNewFhDevice(std::vector<RssiPulse>& rssi_pulses, PulseType pulse_type,
                                    u64 mac_start_time, u64 mac_end_time, float device_rssi,
                                    int count_pulses) {
    FhInterferer device(rssi_pulses, pulse_type, mac_start_time, mac_end_time, device_rssi,
                        count_pulses);
    const timeval now = Now();
    timeval start = now;
    start.tv_sec -= HOPPER_INITIAL_SPAN_SECONDS;
    device.set_host_end_time(now);
    device.set_host_start_time(start);
    std::vector<FhInterferer> batch(1, device);
    AddNewDevices(batch);
}

void DeviceAnalyzer::AddNewDevices(std::vector<FhInterferer>& devices) {
    if (devices.empty()) {
        return;
    }
    MergeBatch(active_fh_devices, devices, "DeviceAnalyzer: Pushing new fh device...\n");
    std::cout << "Status: Number of active fhss devices: " << active_fh_devices.size() << "\n";
    std::cout << "Status: Number of completed fhss devices: " << completed_fh_devices_count << "\n";
    SendFhDeviceInfo();
}

void DeviceAnalyzer::AddNewDevices(std::vector<FixedFreqInterferer>& devices) {
    if (devices.empty()) {
        return;
    }
    MergeBatch(active_ffi_devices, devices, "DeviceAnalyzer: Pushing new fixed device...\n");
    std::cout << "Status: Number of active fixed devices: " << active_ffi_devices.size() << "\n";
    std::cout << "Status: Number of completed fixed devices: " << completed_ffi_devices_count
              << "\n";
    SendFfiDeviceInfo();
}

void DeviceAnalyzer::EndInactiveDevices() {
    const timeval now = Now();
    std::cout << "DeviceAnalyzer::EndInactiveDevices: " << FormatLocalTime(now) << "\n";
    completed_ffi_devices_count += EndInactive(active_ffi_devices, now, "fixed");
    completed_fh_devices_count += EndInactive(active_fh_devices, now, "fhss");
}

void DeviceAnalyzer::PrintDeviceStatus() {
    std::cout << "Status: Number of active fixed devices: " << active_ffi_devices.size() << "\n";
    std::cout << "Status: Number of completed fixed devices: " << completed_ffi_devices_count
              << "\n";
    std::cout << "Status: Number of active fhss devices: " << active_fh_devices.size() << "\n";
    std::cout << "Status: Number of completed fhss devices: " << completed_fh_devices_count << "\n";
}

void DeviceAnalyzer::ObtainFilterList(std::vector<std::pair<int, int>>& filter_list,
                                      bool use_high_duty_only) {
    filter_list.clear();
    for (size_t i = 0; i < active_ffi_devices.size(); ++i) {
        const FixedFreqInterferer& device = active_ffi_devices[i];
        if (use_high_duty_only && device.classification == PULSE_ZIGBEE) {
            continue;
        }
        // Refined: an oven is off half of each mains cycle; its pulses are
        // hidden per on-phase, not over its whole band.
        if (ActiveRules().oven_needs_on_phases && device.classification == PULSE_MWO) {
            continue;
        }
        const int offset = BinFrameOffset(device.band_cfreq, CONST_CENTER_FREQUENCIES[0]);
        const int start = offset + device.start_bin_number;
        const int end = offset + device.end_bin_number;
        std::cout << i << ": " << start << " " << end << "\n";
        filter_list.emplace_back(start, end);
    }
}

bool DeviceAnalyzer::IsHighDeviceActivity(float subband_freq, int peak_index) {
    for (const FixedFreqInterferer& device : active_ffi_devices) {
        if (!CheckPulse::IsHighDutyDevice(device.classification)) {
            continue;
        }
        const int offset = BinFrameOffset(device.band_cfreq, subband_freq);
        if (device.start_bin_number + offset <= peak_index &&
            peak_index <= device.end_bin_number + offset) {
            return true;
        }
    }
    return false;
}

void DeviceAnalyzer::SendFhDeviceInfo() {
    AnnounceActive(active_fh_devices);
}

void DeviceAnalyzer::SendFfiDeviceInfo() {
    AnnounceActive(active_ffi_devices);
}

void DeviceAnalyzer::SendCompletedDevicesFlag(PulseType classification, const timeval& start_time) {
    DeviceEventRecord record;
    record.kind = DeviceEventRecord::Kind::Ended;
    record.classification = classification;
    record.first_seen_s = static_cast<long>(start_time.tv_sec);
    Announce(record);
}

std::vector<DeviceEventRecord> DeviceAnalyzer::ActiveDevices() {
    std::vector<DeviceEventRecord> records;
    records.reserve(ActiveDeviceCount());
    int index = 1;
    for (const FhInterferer& device : active_fh_devices) {
        records.push_back(Describe(device, index++, device.GetHostDuration()));
    }
    index = 1;
    for (const FixedFreqInterferer& device : active_ffi_devices) {
        records.push_back(Describe(device, index++, device.GetHostDuration()));
    }
    return records;
}

std::size_t DeviceAnalyzer::ActiveDeviceCount() {
    return active_fh_devices.size() + active_ffi_devices.size();
}

const std::vector<FhInterferer>& DeviceAnalyzer::ActiveHoppers() {
    return active_fh_devices;
}

const std::vector<FixedFreqInterferer>& DeviceAnalyzer::ActiveFixedDevices() {
    return active_ffi_devices;
}

long DeviceAnalyzer::CompletedDeviceCount() {
    return completed_fh_devices_count + completed_ffi_devices_count;
}

void DeviceAnalyzer::ResetForTests() {
    active_fh_devices.clear();
    active_ffi_devices.clear();
    completed_ffi_devices_count = 0;
    completed_fh_devices_count = 0;
}
