// The daemon's entry and outward face: start-up from the command line, the
// receive loop live or from a capture, the UI event datagrams over UDP and
// the output log.
#include "tessaron_main.h"

#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "card_shell.h"
#include "channel_manager.h"
#include "channel_visit.h"
#include "daemon_options.h"
#include "host_clock.h"
#include "service_signals.h"
#include "signal_handlers.h"
#include "subband_analyser_class.h"
#include "ui_event_text.h"
#ifdef TESSARON_HAVE_PCAP
#include "pcap_capture.h"
#endif

sockaddr_in udp_servaddr{};

namespace {

int udp_sendsock_fd = -1;

}  // namespace

std::string ExternalInterface::outputLogFile;

void ExternalInterface::OnDevice(const DeviceEventRecord& device) {
    SendData(DeviceEventText(device));
}

void ExternalInterface::OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) {
    SendData(ChannelEventText(spectrum));
}

void ExternalInterface::OnChannelUtilisation(const ChannelUtilisationRecord& survey) {
    SendData(ChannelUtilEventText(survey));
}

void ExternalInterface::OnLogLine(const std::string& line) {
    WriteToLogfile(line);
}

ExternalInterface& ExternalInterface::Instance() {
    static ExternalInterface output;
    return output;
}

void ExternalInterface::SendData(const std::string& data) {
    if (udp_sendsock_fd < 0) {
        return;  // no socket: the UI is simply not reached
    }
    sendto(udp_sendsock_fd, data.data(), data.size(), 0,
           reinterpret_cast<const sockaddr*>(&udp_servaddr), sizeof(sockaddr_in));
}

void ExternalInterface::WriteToLogfile(const std::string& log_string) {
    std::cout << "file_name: " << outputLogFile << "\n";
    AppendToLogFile(outputLogFile, log_string);
}

void ExternalInterface::UpdateLogFileName(const std::string& log_file_name) {
    std::cout << "Updating output log file name to: " << log_file_name << "\n";
    outputLogFile = log_file_name;
}

void ExternalInterface::InitSocket(const sockaddr_in& dest) {
    if (udp_sendsock_fd >= 0) {
        close(udp_sendsock_fd);
    }
    udp_sendsock_fd = socket(AF_INET, SOCK_DGRAM, 0);
    udp_servaddr = dest;
    EventSinks::Install(&Instance());
}

sockaddr_in ExternalInterface::DefaultUIDestination() {
    sockaddr_in dest;
    std::memset(&dest, 0, sizeof(dest));
    dest.sin_family = AF_INET;
    dest.sin_port = htons(UI_EVENT_PORT);
    dest.sin_addr.s_addr = htonl(INADDR_ANY);
    return dest;
}

void ExternalInterface::ResetForTests() {
    EventSinks::Remove(&Instance());
    if (udp_sendsock_fd >= 0) {
        close(udp_sendsock_fd);
    }
    udp_sendsock_fd = -1;
    std::memset(&udp_servaddr, 0, sizeof(udp_servaddr));
    ChannelVisit::Reset();
    outputLogFile.clear();
    ChannelVisit::SetEnergyLogFileName("");
    ResetLogWarningsForTests();
}

namespace {

void HandleTerminationSignal(int) {
    SubBandAnalyser::RequestStop();
}

// SIGINT and SIGTERM end the receive loop.
void InstallTerminationHandlers() {
    InstallSignalPair(SIGINT, SIGTERM, HandleTerminationSignal);
}

#ifdef TESSARON_HAVE_PCAP
// Offline analysis: the same receive path, fed from a capture, with the host
// clock following the packets; the card is not touched.
int RunReplay(const DaemonOptions& options, SubBandAnalyser& analyser) {
    SubBandAnalyser::PrintRecordSize();
    ReplaySummary summary;
    const bool ok = ReplayCapture(options.replay_file, ntohs(options.listen_addr.sin_port),
                                  options.realtime, analyser, &summary);
    std::cout.flush();
    fflush(stdout);
    if (!ok) {
        return 1;
    }
    std::cerr << FormatReplaySummary(summary, analyser);
    return 0;
}

int RunLive(const DaemonOptions& options, SubBandAnalyser& analyser) {
    CaptureWriter recorder;
    if (!options.record_file.empty()) {
        if (!recorder.Open(options.record_file)) {
            return 1;
        }
        const sockaddr_in to = options.listen_addr;
        analyser.SetDatagramTap(
            [&recorder, to](const uint8_t* data, size_t len, const sockaddr_in& from) {
                timeval now;
                GetHostTime(&now);
                recorder.Write(data, len, from, to, now);
            });
    }
    const bool listened = analyser.ReadDataFromNetwork();
    recorder.Close();
    std::cout.flush();
    fflush(stdout);
    return listened ? 0 : 1;
}
#else
int RunReplay(const DaemonOptions&, SubBandAnalyser&) {
    std::cerr << "This build has no capture support (configured without libpcap)\n";
    return 2;
}

int RunLive(const DaemonOptions& options, SubBandAnalyser& analyser) {
    if (!options.record_file.empty()) {
        std::cerr << "This build has no capture support (configured without libpcap)\n";
        return 2;
    }
    const bool listened = analyser.ReadDataFromNetwork();
    std::cout.flush();
    fflush(stdout);
    return listened ? 0 : 1;
}
#endif

// Host time read from the card clock of the latest sample (microseconds from
// the card's start), so that device lifetimes and log times depend only on
// the stream received.
const SubBandAnalyser* card_clock_source = nullptr;

void CardClock(timeval* now) {
    const u64 t = card_clock_source->current_ap->GetCurrTime();
    now->tv_sec = static_cast<time_t>(t / 1000000);
    now->tv_usec = static_cast<suseconds_t>(t % 1000000);
}

int UsageError(const std::string& program, const std::string& reason) {
    std::cerr << program << ": " << reason << "\n" << UsageText(program);
    return 2;
}

// What is wrong with the card's names on the command line; empty when
// nothing is or none are given.
std::string CardNamesError(const std::vector<std::string>& args) {
    if (args.size() < 6) {
        return "";
    }
    if (!ChannelManager::IsValidPhyDevice(args[4])) {
        return "<phy-device> must be 1 to 221 letters, digits, '-', '_' or '.'";
    }
    if (!ChannelManager::IsValidInterfaceName(args[5])) {
        return "<wlan-interface> must be 1 to 15 letters, digits, '-', '_' or '.'";
    }
    return "";
}

void PrintBanner(const DaemonOptions& options) {
    const int bin_boundary_offset = CONST_SUBBAND_CENTER_BIN;
    const int total_bin_count =
        static_cast<int>(static_cast<double>(CONST_CENTER_FREQUENCIES[CONST_NUM_SUBBAND_FREQS - 1] -
                                             CONST_CENTER_FREQUENCIES[0]) *
                             CONST_BINS_PER_MHZ +
                         CONST_SUBBAND_NUM_BINS);
    std::cout << "bin_boundary_offset: " << bin_boundary_offset
              << " total_bin_count: " << total_bin_count << "\n";
    // The standard rules print no line of their own, so that their banner
    // stays what every existing log and comparison expects.
    if (options.rules != RuleSetId::kStandard) {
        std::cout << "Classification rules: " << ActiveRules().name << "\n";
    }
    std::cout << "Sending events to UI is enabled...\n";
}

// The UI events, the log files and the card's names, as the command line
// gives them.
void SetUpOutputsAndCard(const DaemonOptions& options) {
    const std::vector<std::string>& args = options.positional;
    ChannelVisit::Reset();
    ExternalInterface::InitSocket(options.ui_addr);
    if (args.size() >= 3) {
        ExternalInterface::UpdateLogFileName(args[2]);
    }
    if (args.size() >= 4) {
        std::cout << "Updating energy log file name to: " << args[3] << "\n";
        ChannelVisit::SetEnergyLogFileName(args[3]);
    }
    if (args.size() >= 6) {
        std::cout << "Updating interface information...\n";
        ChannelManager::UpdateInterfaceInformation(args[4], args[5]);
    } else {
        ChannelManager::InitializeDefaultInterface();
    }
}

// Steps the card through the channels, its commands run by `shell`.
void StartCardControl(const CardShell& shell) {
    if (shell.program != CONST_POSIX_SHELL) {
        std::cout << "Card commands run through " << shell.program << "\n";
    }
    std::cout << "Using SleepSwitchChannel...\n";
    ChannelManager::SleepSwitchChannel();
}

}  // namespace

int TessaronMain(int argc, char** argv) {
    // Diagnostics are read live from files and pipes too: one line at a time.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    DaemonOptions options;
    std::string error;
    const std::string program = argc > 0 ? argv[0] : "tessaron";
    if (!ParseDaemonOptions(argc, argv, &options, &error)) {
        return UsageError(program, error);
    }
    if (options.show_help) {
        std::cout << UsageText(program);
        return 0;
    }
    if (options.show_version) {
        std::cout << "tessaron " << TESSARON_VERSION << "\n";
        return 0;
    }
    SelectRules(options.rules);
    const std::string card_names_error = CardNamesError(options.positional);
    if (!card_names_error.empty()) {
        return UsageError(program, card_names_error);
    }

    const std::string spec_file = options.positional[1];
    SubBandAnalyser analyser("output.txt", 100000000ULL, spec_file, 65535);
    analyser.SetListenAddress(options.listen_addr);
    PrintBanner(options);
    SetUpOutputsAndCard(options);
    const CardShell shell = ChooseCardShell(options.card_shell, IsExecutable);
    if (shell.program != CONST_POSIX_SHELL) {
        ChannelManager::SetShellRunner(ExecShellRunner(shell));
    }
    InstallTerminationHandlers();
    if (!options.replay_file.empty()) {
        return RunReplay(options, analyser);
    }
    InstallServiceSignals(analyser, spec_file);
    if (options.card_clock) {
        card_clock_source = &analyser;
        SetHostClock(CardClock);
    }
    if (options.card_control) {
        StartCardControl(shell);
    }
    const int status = RunLive(options, analyser);
    ChannelManager::StopSwitchingChannels();
    return status;
}
