// Device tracker: every batch of detections from one classifier pass is
// matched against the devices already tracked, merged or started, and the
// tracked devices are re-announced to the UI; devices unconfirmed for
// INACTIVITY_TIME host seconds are ended, logged and announced as ended.
#include "device_analyzer.h"

#include "rule_set.h"

#include <iostream>
#include <string>

#include "check_pulse_type.h"
#include "host_clock.h"
#include "rule_set.h"
#include "tessaron_main.h"

std::vector<FhInterferer> DeviceAnalyzer::completed_fh_devices;
std::vector<FhInterferer> DeviceAnalyzer::active_fh_devices;
std::vector<FixedFreqInterferer> DeviceAnalyzer::completed_ffi_devices;
std::vector<FixedFreqInterferer> DeviceAnalyzer::active_ffi_devices;
long DeviceAnalyzer::completed_ffi_devices_count = 0;
long DeviceAnalyzer::completed_fh_devices_count = 0;

namespace {

constexpr long HOPPER_INITIAL_SPAN_SECONDS = 6;
constexpr float FIRST_SUBBAND_CFREQ = 2412.0f;  // bin 0 of the whole-band frame
constexpr double BINS_PER_MHZ = 3.2;

timeval Now() {
    timeval now{};
    GetHostTime(&now);
    return now;
}

// Bins to add to move a bin number from the from_freq subband's frame into
// the to_freq subband's frame.
int FrameOffset(float from_freq, float to_freq) {
    const float diff = from_freq - to_freq;
    return static_cast<int>(static_cast<double>(diff) * BINS_PER_MHZ);
}

void PrintShortLived(int duration) {
    std::cout << "Not sending active/completed device as GetHostDuration " << duration << " < "
              << MIN_ACTIVE_HOST_SECONDS << "\n";
}

// The "event: devices" text for nine already formatted fields.
std::string DeviceEvent(const std::vector<std::string>& fields) {
    std::string text = "event: devices\r\ndata: { \"dev\": [";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            text += ",";
        }
        text += "\"" + fields[i] + "\"";
    }
    text += "]}\n\n";
    return text;
}

void Announce(const std::string& event_text) {
    std::cout << event_text << "\n";
    ExternalInterface::SendData(event_text);
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
template <typename Device>
void EndInactive(std::vector<Device>& active, std::vector<Device>& completed, const timeval& now,
                 const std::string& label) {
    std::vector<Device> still_active;
    for (Device& record : active) {
        if (now.tv_sec - record.host_end_time.tv_sec < INACTIVITY_TIME) {
            still_active.push_back(record);
            continue;
        }
        const int duration = record.GetHostDuration();
        const bool long_lived = duration >= MIN_ACTIVE_HOST_SECONDS;
        if (!long_lived) {
            PrintShortLived(duration);
            std::cout << label << " inactive lt: " << record.toString() << "\n";
        } else {
            const std::string text = label + " inactive gt: " + record.toString();
            std::cout << text << "\n";
            ExternalInterface::WriteToLogfile(text);
        }
        record.set_host_end_time(now);
        completed.push_back(record);
        if (long_lived) {
            DeviceAnalyzer::SendCompletedDevicesFlag(record.classification, record.host_start_time);
        }
    }
    active.swap(still_active);
}

std::string Seconds(const timeval& t) {
    return std::to_string(static_cast<long long>(t.tv_sec));
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
    EndInactive(active_ffi_devices, completed_ffi_devices, now, "fixed");
    EndInactive(active_fh_devices, completed_fh_devices, now, "fhss");
    completed_ffi_devices_count += static_cast<long>(completed_ffi_devices.size());
    completed_fh_devices_count += static_cast<long>(completed_fh_devices.size());
    completed_ffi_devices.clear();
    completed_fh_devices.clear();
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
        const int offset = FrameOffset(device.band_cfreq, FIRST_SUBBAND_CFREQ);
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
        const int offset = FrameOffset(device.band_cfreq, subband_freq);
        if (device.start_bin_number + offset <= peak_index &&
            peak_index <= device.end_bin_number + offset) {
            return true;
        }
    }
    return false;
}

void DeviceAnalyzer::SendFhDeviceInfo() {
    int index = 1;
    for (const FhInterferer& device : active_fh_devices) {
        const int duration = device.GetHostDuration();
        if (duration < MIN_ACTIVE_HOST_SECONDS) {
            PrintShortLived(duration);
            continue;
        }
        Announce(DeviceEvent(
            {std::to_string(index), RssiPulse::getClassification(device.classification),
             Seconds(device.host_start_time), Seconds(device.host_end_time),
             std::to_string(duration), getStr(device.device_rssi), "0", "Freq Hopper", "1"}));
        ++index;
    }
}

void DeviceAnalyzer::SendFfiDeviceInfo() {
    int index = 1;
    for (const FixedFreqInterferer& device : active_ffi_devices) {
        const int duration = device.GetHostDuration();
        if (duration < MIN_ACTIVE_HOST_SECONDS) {
            PrintShortLived(duration);
            continue;
        }
        const std::string bins = std::to_string(device.start_bin_number) + "," +
                                 std::to_string(device.center_bin_number) + "," +
                                 std::to_string(device.end_bin_number);
        Announce(
            DeviceEvent({std::to_string(index), RssiPulse::getClassification(device.classification),
                         Seconds(device.host_start_time), Seconds(device.host_end_time),
                         std::to_string(duration), getStr(-static_cast<double>(device.peak_rssi)),
                         getStr(device.band_cfreq), bins, "1"}));
        ++index;
    }
}

void DeviceAnalyzer::SendCompletedDevicesFlag(PulseType classification, const timeval& start_time) {
    Announce(DeviceEvent({"0", RssiPulse::getClassification(classification), Seconds(start_time),
                          "0", "0", "0", "0", "0", "0"}));
}

void DeviceAnalyzer::ResetForTests() {
    completed_fh_devices.clear();
    active_fh_devices.clear();
    completed_ffi_devices.clear();
    active_ffi_devices.clear();
    completed_ffi_devices_count = 0;
    completed_fh_devices_count = 0;
}
