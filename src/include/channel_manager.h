// Card control on a thread of its own: steps the Wi-Fi card through channels
// 1, 3, 6, 7, 9 and 11 with one ~410 ms spectral scan on each, forwards the
// driver's channel survey text to the UI after every scan, and restarts the
// interface now and then. Everything goes through shell commands.
#ifndef TESSARON_CHANNEL_MANAGER_H
#define TESSARON_CHANNEL_MANAGER_H

#include <functional>
#include <string>

inline constexpr unsigned CONST_SCAN_DWELL_US = 410000;  // one spectral scan
inline constexpr long CONST_RESET_PASSES = 35;           // passes between interface resets
inline constexpr int CONST_CHANNEL_SEQUENCE[6] = {1, 3, 6, 7, 9, 11};

class ChannelManager {
public:
    // Runs one command line through the shell. With output == nullptr the
    // exit status is returned (system); otherwise the command's standard
    // output is read to its end into *output and a negative value is returned
    // when the command could not be started (popen).
    using ShellRunner = std::function<int(const std::string& command, std::string* output)>;
    using Sleeper = std::function<void(unsigned usec)>;

    static void InitializeDefaultInterface();
    static void UpdateInterfaceInformation(std::string phy_device, std::string wlan_intf);
    // A phy device name is used inside shell commands and 300-byte buffers:
    // only letters, digits, '-', '_' and '.', 1 to 221 characters.
    static bool IsValidPhyDevice(const std::string& phy_device);
    // An interface name is used in shell command lines too: 1 to 15 letters,
    // digits, '-', '_' and '.', not starting with '-'.
    static bool IsValidInterfaceName(const std::string& name);
    static void SleepSwitchChannel();
    // Ends the channel thread after its current step and waits for it. The
    // daemon calls it before returning from main: a thread still stepping
    // the card while the process's globals are destroyed would run a
    // command through a runner, interface name and event sinks already gone.
    static void StopSwitchingChannels();
    static void* ThreadWork(void* ptr);
    static void IncrementChannel();
    static void SetChannel(int channel);
    static void ResetInterface();
    static void SendChannelUtilizationInfo();

    // The two halves of the thread body: the start-up step, and one pass of
    // the loop that runs until StopSwitchingChannels (next channel, scan,
    // survey event).
    static void ThreadStartStep();
    static void ThreadLoopStep();

    // The default runner: the command line through system or popen.
    static int RunThroughShell(const std::string& command, std::string* output);

    // Seams: nullptr/empty restores the shell (system/popen) and usleep.
    static void SetShellRunner(ShellRunner runner);
    static void SetSleeper(Sleeper sleeper);

    // The prepared commands, as the thread will run them.
    static std::string ChanSurveyCommand();
    static std::string StartScanCommand();
    static std::string EndScanCommand();
    static std::string ChannelUtilCommand();
    static long CurrentChannelCount();
    static long ResetCount();

    // Empties the commands and counters and restores the default seams.
    static void ResetForTests();
};

#endif
