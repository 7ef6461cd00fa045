// Card control. The spectral samples only cover the channel the card sits
// on, so a background thread steps the card through channels 1, 3, 6, 7, 9
// and 11, runs one ~410 ms spectral scan on each through the driver's debug
// files, forwards the driver's channel survey text to the UI after every scan,
// and restarts the interface once at start and then every 36 passes. All
// card access is by shell command through one replaceable runner.
#include "channel_manager.h"

#include <pthread.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <utility>

#include "event_sink.h"
#include "host_clock.h"

namespace {

constexpr size_t CMD_BUFFER_SIZE = 300;
constexpr const char* DRIVER_NAME = "ath9k_htc";
constexpr const char* DEFAULT_WLAN_INTERFACE = "wlan1";
constexpr long NUM_CHANNELS = 6;

char CHAN_SURVEY_CMD[CMD_BUFFER_SIZE];
char START_SCAN_CMD[CMD_BUFFER_SIZE];
char END_SCAN_CMD[CMD_BUFFER_SIZE];
char GET_CHANNEL_UTIL[CMD_BUFFER_SIZE];
// The interface named on the command line; every channel change and reset
// acts on it.
std::string wlan_interface = DEFAULT_WLAN_INTERFACE;
long current_channel_count = 0;
long reset_count_val = 0;
timeval timeStart = {0, 0};
pthread_t channel_thread;
bool channel_thread_running = false;
std::atomic<bool> channel_thread_stop{false};

void SleepMicroseconds(unsigned usec) {
    usleep(usec);
}

ChannelManager::ShellRunner shell_runner = ChannelManager::RunThroughShell;
ChannelManager::Sleeper sleeper = SleepMicroseconds;

// Card-control failures (no driver debug files, no iwconfig) are reported
// once per kind of command, naming the command; from then on the shell's own
// error text for that kind is discarded, so a card without the driver cannot
// flood the terminal every 410 ms.
enum CommandKind { kSetChannel, kResetInterface, kStartScan, kStopScan, kSurvey, kNumKinds };
bool command_failed[kNumKinds] = {};

std::string Quieted(CommandKind kind, const char* command) {
    return command_failed[kind] ? std::string("{ ") + command + "; } 2>/dev/null" : command;
}

void NoteResult(CommandKind kind, const char* command, int status) {
    if (status == 0 || command_failed[kind]) {
        return;
    }
    command_failed[kind] = true;
    std::ostringstream text;
    text << "Warning!! card control: \"" << command << "\" ";
    if (status < 0) {
        text << "could not be run";
    } else {
        text << "failed (exit status " << (WIFEXITED(status) ? WEXITSTATUS(status) : status) << ")";
    }
    text << "; further failures of it are not reported\n";
    std::cerr << text.str() << std::flush;
}

int RunCommand(CommandKind kind, const char* command) {
    const int status = shell_runner(Quieted(kind, command), nullptr);
    NoteResult(kind, command, status);
    return status;
}

void FillCommands(const char* phy_device) {
    snprintf(CHAN_SURVEY_CMD, CMD_BUFFER_SIZE,
             "cat /sys/kernel/debug/ieee80211/%s/%s/get_survey_stats > /dev/null", phy_device,
             DRIVER_NAME);
    snprintf(START_SCAN_CMD, CMD_BUFFER_SIZE,
             "cat /sys/kernel/debug/ieee80211/%s/%s/set_start_spectral_scan > /dev/null",
             phy_device, DRIVER_NAME);
    snprintf(END_SCAN_CMD, CMD_BUFFER_SIZE,
             "cat /sys/kernel/debug/ieee80211/%s/%s/stop_spectral_scan > /dev/null", phy_device,
             DRIVER_NAME);
    snprintf(GET_CHANNEL_UTIL, CMD_BUFFER_SIZE,
             "cat /sys/kernel/debug/ieee80211/%s/%s/get_survey_stats", phy_device, DRIVER_NAME);
}

}  // namespace

void ChannelManager::InitializeDefaultInterface() {
    FillCommands("phy1");
    wlan_interface = DEFAULT_WLAN_INTERFACE;
}

bool ChannelManager::IsValidInterfaceName(const std::string& name) {
    // Linux interface names have at most 15 characters; this set keeps the
    // name inert inside a shell command line.
    constexpr size_t MAX_INTERFACE_NAME_LENGTH = 15;
    if (name.empty() || name.size() > MAX_INTERFACE_NAME_LENGTH || name[0] == '-' || name == "." ||
        name == "..") {
        return false;
    }
    for (unsigned char c : name) {
        if (!(isalnum(c) || c == '-' || c == '_' || c == '.')) {
            return false;
        }
    }
    return true;
}

bool ChannelManager::IsValidPhyDevice(const std::string& phy_device) {
    // The longest command leaves 221 characters of its 300-byte buffer.
    constexpr size_t MAX_PHY_DEVICE_LENGTH = 221;
    if (phy_device.empty() || phy_device.size() > MAX_PHY_DEVICE_LENGTH) {
        return false;
    }
    // "." and ".." would walk out of the driver's debug directory.
    if (phy_device == "." || phy_device == "..") {
        return false;
    }
    for (unsigned char c : phy_device) {
        if (!(isalnum(c) || c == '-' || c == '_' || c == '.')) {
            return false;
        }
    }
    return true;
}

void ChannelManager::UpdateInterfaceInformation(std::string phy_device, std::string wlan_intf) {
    if (IsValidInterfaceName(wlan_intf)) {
        wlan_interface = wlan_intf;
    } else {
        std::cerr << "Warning... ChannelManager: invalid interface name refused, using "
                  << DEFAULT_WLAN_INTERFACE << "\n";
        wlan_interface = DEFAULT_WLAN_INTERFACE;
    }
    if (!IsValidPhyDevice(phy_device)) {
        // The name goes into shell command lines; never run one built from
        // arbitrary text. Start-up refuses such a name before getting here.
        std::cerr << "Warning... ChannelManager: invalid phy device name refused, using phy1\n";
        InitializeDefaultInterface();
        return;
    }
    FillCommands(phy_device.c_str());
}

void ChannelManager::SleepSwitchChannel() {
    std::cout << "Starting...\n";
    channel_thread_stop = false;
    if (pthread_create(&channel_thread, nullptr, ThreadWork, nullptr) != 0) {
        std::cerr << "Warning!! Cannot start the channel thread: the card stays on its channel\n";
        return;
    }
    channel_thread_running = true;
}

void ChannelManager::StopSwitchingChannels() {
    if (!channel_thread_running) {
        return;
    }
    channel_thread_stop = true;
    pthread_join(channel_thread, nullptr);
    channel_thread_running = false;
}

void* ChannelManager::ThreadWork(void* /*ptr*/) {
    ThreadStartStep();
    while (!channel_thread_stop) {
        ThreadLoopStep();
    }
    return nullptr;
}

void ChannelManager::ThreadStartStep() {
    GetHostTime(&timeStart);
    ResetInterface();
    RunCommand(kStopScan, END_SCAN_CMD);
    SetChannel(CONST_CHANNEL_SEQUENCE[0]);
}

void ChannelManager::ThreadLoopStep() {
    IncrementChannel();
    RunCommand(kStartScan, START_SCAN_CMD);
    sleeper(CONST_SCAN_DWELL_US);
    RunCommand(kStopScan, END_SCAN_CMD);
    SendChannelUtilizationInfo();
}

void ChannelManager::IncrementChannel() {
    current_channel_count += 1;
    if (current_channel_count > NUM_CHANNELS - 1) {
        current_channel_count = 0;
        reset_count_val += 1;
        if (reset_count_val > CONST_RESET_PASSES) {
            ResetInterface();
            reset_count_val = 0;
        }
    }
    SetChannel(CONST_CHANNEL_SEQUENCE[current_channel_count]);
    sleeper(0);
}

void ChannelManager::SetChannel(int channel) {
    char command[50];
    snprintf(command, sizeof(command), "iwconfig %s channel %d", wlan_interface.c_str(), channel);
    RunCommand(kSetChannel, command);
}

void ChannelManager::ResetInterface() {
    timeval now;
    GetHostTime(&now);
    const long long elapsed =
        (static_cast<long long>(now.tv_sec) - static_cast<long long>(timeStart.tv_sec)) *
            1000000LL +
        (static_cast<long long>(now.tv_usec) - static_cast<long long>(timeStart.tv_usec));
    std::ostringstream before;
    before << "Time: " << elapsed << " Resetting the card....\n";
    std::cout << before.str() << std::flush;
    char command[50];
    snprintf(command, sizeof(command), "ifconfig %s down; ifconfig %s up", wlan_interface.c_str(),
             wlan_interface.c_str());
    RunCommand(kResetInterface, command);
    std::ostringstream after;
    after << "Time: " << elapsed << " Resetting done....\n";
    std::cout << after.str() << std::flush;
}

void ChannelManager::SendChannelUtilizationInfo() {
    std::string survey_text;
    const int status = shell_runner(Quieted(kSurvey, GET_CHANNEL_UTIL), &survey_text);
    NoteResult(kSurvey, GET_CHANNEL_UTIL, status);
    if (status < 0) {
        return;
    }
    timeval now;
    GetHostTime(&now);
    EventSinks::ReportChannelUtilisation({survey_text, static_cast<long>(now.tv_sec)});
}

int ChannelManager::RunThroughShell(const std::string& command, std::string* output) {
    if (output == nullptr) {
        return system(command.c_str());
    }
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char line[100];
    while (!feof(pipe)) {
        if (fgets(line, sizeof(line), pipe) != nullptr) {
            output->append(line);
        } else if (ferror(pipe)) {
            break;
        }
    }
    // The command's wait status, as system() gives it.
    const int status = pclose(pipe);
    return status == -1 ? 0 : status;
}

void ChannelManager::SetShellRunner(ShellRunner runner) {
    shell_runner = runner ? std::move(runner) : ShellRunner(ChannelManager::RunThroughShell);
}

void ChannelManager::SetSleeper(Sleeper new_sleeper) {
    sleeper = new_sleeper ? std::move(new_sleeper) : Sleeper(SleepMicroseconds);
}

std::string ChannelManager::ChanSurveyCommand() {
    return CHAN_SURVEY_CMD;
}
std::string ChannelManager::StartScanCommand() {
    return START_SCAN_CMD;
}
std::string ChannelManager::EndScanCommand() {
    return END_SCAN_CMD;
}
std::string ChannelManager::ChannelUtilCommand() {
    return GET_CHANNEL_UTIL;
}
long ChannelManager::CurrentChannelCount() {
    return current_channel_count;
}
long ChannelManager::ResetCount() {
    return reset_count_val;
}

void ChannelManager::ResetForTests() {
    CHAN_SURVEY_CMD[0] = '\0';
    START_SCAN_CMD[0] = '\0';
    END_SCAN_CMD[0] = '\0';
    GET_CHANNEL_UTIL[0] = '\0';
    wlan_interface = DEFAULT_WLAN_INTERFACE;
    for (bool& failed : command_failed) {
        failed = false;
    }
    current_channel_count = 0;
    reset_count_val = 0;
    timeStart = {0, 0};
    SetShellRunner(nullptr);
    SetSleeper(nullptr);
}
