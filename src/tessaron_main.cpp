// UI event output: one UDP datagram per event text, the per-visit averaged
// channel spectrum (mean power in mW per bin, turned back into dB) sent as an
// "event: channel" text with a matching energy-log line, and the output log.
#include "tessaron_main.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <iostream>

#include "spectrum_data.h"

sockaddr_in udp_servaddr{};

namespace {

constexpr size_t NUM_UI_BINS = 56;
constexpr long MIN_REPORTED_VISIT_SAMPLES = 100;  // shorter visits cut by a change are dropped

int udp_sendsock_fd = -1;
std::vector<float> ui_avg_fft;
float curr_freq = 0;
long curr_sample_count = 0;

void EnsureAverageSized() {
    if (ui_avg_fft.size() != NUM_UI_BINS) {
        ui_avg_fft = GetEmptyList(NUM_UI_BINS);
    }
}

}  // namespace

std::string ExternalInterface::outputLogFile;
std::string ExternalInterface::energyLogfileName;

void ExternalInterface::SendData(std::string data) {
    if (udp_sendsock_fd < 0) {
        return;  // no socket: the UI is simply not reached
    }
    sendto(udp_sendsock_fd, data.data(), data.size(), 0,
           reinterpret_cast<const sockaddr*>(&udp_servaddr), sizeof(sockaddr_in));
}

void ExternalInterface::UpdateUIFFT(const std::vector<float>& sub_band_rssi_list,
                                    AccessPoint* current_ap) {
    if (current_ap == nullptr || sub_band_rssi_list.size() < NUM_UI_BINS) {
        std::cerr << "Warning... UpdateUIFFT: spectrum without access point or with "
                  << sub_band_rssi_list.size() << " bins dropped\n";
        return;
    }
    EnsureAverageSized();
    const float freq = current_ap->curr_freq;
    if (freq == curr_freq && curr_sample_count < NUM_SAMPLES_PER_FFT) {
        for (size_t i = 0; i < NUM_UI_BINS; ++i) {
            ui_avg_fft[i] += powf(10.0f, -sub_band_rssi_list[i] / 10.0f);  // mW
        }
        ++curr_sample_count;
        SpectrumMeasurement::UpdateSpectrumData(sub_band_rssi_list);
        return;
    }
    const bool reported = freq == curr_freq || curr_sample_count > MIN_REPORTED_VISIT_SAMPLES;
    if (reported) {
        const float count = static_cast<float>(curr_sample_count);
        for (size_t i = 0; i < NUM_UI_BINS; ++i) {
            ui_avg_fft[i] = -10.0f * log10f(ui_avg_fft[i] / count);
        }
        SendUIFFT(current_ap, curr_freq);
        SpectrumMeasurement::WriteSpectrumDataToLog(energyLogfileName, current_ap->GetCurrTime(),
                                                    curr_freq);
    }
    // The spectrum that ends a visit only restarts the average.
    SpectrumMeasurement::ResetSpectrumMeasurements();
    curr_freq = freq;
    curr_sample_count = 0;
    ui_avg_fft = GetEmptyList(NUM_UI_BINS);
}

std::string ExternalInterface::BuildChannelEvent(u64 mac_time, float freq) {
    EnsureAverageSized();
    std::string text = "event: channel\r\ndata:{ \"ch\": [";
    for (size_t i = 0; i < NUM_UI_BINS; ++i) {
        if (i > 0) {
            text += ",";
        }
        text += std::to_string(TruncToIntClamped(ui_avg_fft[i]));
    }
    text += "],\"timestamp\":" + u64tostr(mac_time) + ",\"freq\": " + getStr(freq) + "}\r\n\n";
    return text;
}

void ExternalInterface::SendUIFFT(AccessPoint* current_ap, float freq) {
    const u64 mac_time = current_ap != nullptr ? current_ap->GetCurrTime() : CONST_INVALID_TIME;
    SendData(BuildChannelEvent(mac_time, freq));
}

void ExternalInterface::WriteToLogfile(const std::string& log_string) {
    std::cout << "file_name: " << outputLogFile << "\n";
    AppendToLogFile(outputLogFile, log_string);
}

void ExternalInterface::UpdateLogFileName(const std::string& log_file_name) {
    std::cout << "Updating output log file name to: " << log_file_name << "\n";
    outputLogFile = log_file_name;
}

void ExternalInterface::UpdateEnergyLogFileName(const std::string& log_file_name) {
    std::cout << "Updating energy log file name to: " << log_file_name << "\n";
    energyLogfileName = log_file_name;
}

void ExternalInterface::InitSocket(const sockaddr_in& dest) {
    if (udp_sendsock_fd >= 0) {
        close(udp_sendsock_fd);
    }
    udp_sendsock_fd = socket(AF_INET, SOCK_DGRAM, 0);
    udp_servaddr = dest;
}

sockaddr_in ExternalInterface::DefaultUIDestination() {
    sockaddr_in dest;
    std::memset(&dest, 0, sizeof(dest));
    dest.sin_family = AF_INET;
    dest.sin_port = htons(UI_EVENT_PORT);
    dest.sin_addr.s_addr = htonl(INADDR_ANY);
    return dest;
}

void ExternalInterface::InitUIAverage() {
    ui_avg_fft = GetEmptyList(NUM_UI_BINS);
}

void ExternalInterface::ResetForTests() {
    if (udp_sendsock_fd >= 0) {
        close(udp_sendsock_fd);
    }
    udp_sendsock_fd = -1;
    std::memset(&udp_servaddr, 0, sizeof(udp_servaddr));
    ui_avg_fft.clear();
    curr_freq = 0;
    curr_sample_count = 0;
    outputLogFile.clear();
    energyLogfileName.clear();
    ResetLogWarningsForTests();
}

long ExternalInterface::GetCurrSampleCount() {
    return curr_sample_count;
}
float ExternalInterface::GetCurrFreq() {
    return curr_freq;
}
const std::vector<float>& ExternalInterface::GetUIAverage() {
    return ui_avg_fft;
}
