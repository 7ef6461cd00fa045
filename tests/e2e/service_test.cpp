// The daemon as a long-running service: it fails loudly on a bad start,
// re-reads its signatures on SIGHUP without forgetting tracked devices,
// reports its state on SIGUSR1 and keeps logging across log rotation.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "analog_phone_stream.h"
#include "daemon_process.h"
#include "stream_builder.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

size_t CountLines(const std::string& text, const std::string& prefix) {
    size_t n = 0;
    size_t pos = 0;
    while ((pos = text.find(prefix, pos)) != std::string::npos) {
        n++;
        pos += prefix.size();
    }
    return n;
}

// Alternating 150-sample visits of channels 1 and 6: every change of
// channel reports the visit before it to the energy log.
uint64_t SendVisits(DaemonProcess& daemon, uint64_t t, int visits) {
    StreamBuilder stream;
    for (int v = 0; v < visits; v++) {
        t = stream.AddRun(v % 2 == 0 ? 2412 : 2437, t, 150, 100, FlatRow(-90.0f));
    }
    daemon.SendAll(stream.Take());
    return t;
}

// Waits until the log holds `lines` SPECTRUM lines: every visit sent so far
// has been written before the next rotation.
bool WaitForLines(const std::string& path, size_t lines, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (CountLines(ReadFile(path), "SPECTRUM") == lines) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

TEST(Service, BadStartsFailLoudly) {
    // A receive port already taken, and an address that is not this host's.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    socklen_t len = sizeof(addr);
    getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string taken = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {taken, "Cannot listen for spectrum datagrams on UDP " + taken + ": " +
                    strerror(EADDRINUSE) + "\n"},
        {"192.0.2.1:10000", "Cannot listen for spectrum datagrams on UDP 192.0.2.1:10000: " +
                                std::string(strerror(EADDRNOTAVAIL)) + "\n"},
    };
    for (const auto& [listen, message] : cases) {
        DaemonProcess daemon;
        daemon.Start({"--no-card-control", "--listen", listen, kSignatures});
        EXPECT_EQ(ExitCode(daemon.Wait()), 1) << listen;
        EXPECT_NE(daemon.Stderr().find(message), std::string::npos) << daemon.Stderr();
    }
    close(holder);

    // The signature file: the fixed stdout line, and the name and reason.
    DaemonProcess missing;
    missing.Start({"--no-card-control", "no-such-signatures.txt"});
    EXPECT_EQ(ExitCode(missing.Wait()), 1);
    EXPECT_NE(missing.Stdout().find("Could not open file... Exiting...\n"), std::string::npos);
    EXPECT_EQ(missing.Stderr(), "Cannot open signature file no-such-signatures.txt: " +
                                    std::string(strerror(ENOENT)) + "\n");

    // -h is the usage text; a sixth argument is a usage error.
    DaemonProcess help;
    help.Start({"-h"});
    EXPECT_EQ(ExitCode(help.Wait()), 0);
    EXPECT_EQ(help.Stdout().rfind("Usage: ", 0), 0u) << help.Stdout();
    DaemonProcess extra;
    extra.Start({kSignatures, "out.log", "energy.log", "phy0", "wlan0", "stray"});
    EXPECT_EQ(ExitCode(extra.Wait()), 2);
    EXPECT_NE(extra.Stderr().find("unexpected argument 'stray'"), std::string::npos);
}

TEST(Service, ReloadKeepsTrackedDevicesAndStatusCountsThem) {
    EventCollector ui;
    DaemonProcess daemon;
    const std::string signatures = daemon.Dir() + "/signatures.txt";
    ASSERT_EQ(system(("cp '" + kSignatures + "' '" + signatures + "'").c_str()), 0);
    daemon.Start({"--no-card-control", "--listen", daemon.ListenOption(), "--ui", ui.Address(),
                  signatures, "out.log", "energy.log"});
    ASSERT_TRUE(daemon.WaitFor(false, "#Size of fft_stats: 1360\n"));

    ASSERT_TRUE(StreamAnalogPhoneUntilAnnounced(daemon, ui)) << daemon.Stdout();

    daemon.Signal(SIGUSR1);
    ASSERT_TRUE(daemon.WaitFor(true, "Status: ")) << daemon.Stderr();
    EXPECT_NE(daemon.Stderr().find(" datagrams, active devices: 1 Analog_Phone, dropped: 0 "
                                   "wrong-sized, 0 bad sample count, 0 off-centre samples\n"),
              std::string::npos)
        << daemon.Stderr();

    // A signature file with the video camera only: read at the next safe
    // point, the tracked phone stays.
    {
        std::ifstream in(kSignatures);
        std::ofstream out(signatures);
        std::string line;
        while (std::getline(in, line) && !line.empty()) {
            if (line.rfind("3 ", 0) == 0) {
                out << line << "\n";
            }
        }
    }
    daemon.Signal(SIGHUP);
    ASSERT_TRUE(
        daemon.WaitFor(true, "Reloaded signature file " + signatures + ": 1 device signatures\n"))
        << daemon.Stderr();
    EXPECT_NE(daemon.Stderr().find("has no signature for device 1 (Analog_Phone)"),
              std::string::npos);
    // A file that has gone keeps the loaded signatures in service.
    unlink(signatures.c_str());
    daemon.Signal(SIGHUP);
    ASSERT_TRUE(daemon.WaitFor(true, "Warning... cannot reload signature file " + signatures +
                                         ": " + strerror(ENOENT) +
                                         "; keeping the 1 device signatures in service\n"))
        << daemon.Stderr();
    daemon.Signal(SIGUSR1);
    bool second_status = false;
    for (int waited = 0; waited < 10000 && !second_status; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        second_status = CountLines(daemon.Stderr(), "Status: ") == 2;
    }
    ASSERT_TRUE(second_status) << daemon.Stderr();
    EXPECT_EQ(CountLines(daemon.Stderr(), "active devices: 1 Analog_Phone,"), 2u)
        << daemon.Stderr();
    EXPECT_TRUE(daemon.IsRunning());
    EXPECT_EQ(ExitCode(daemon.Stop(SIGTERM)), 0);
}

TEST(Service, ShippedLogrotateSnippetKeepsTheDaemonLogging) {
    if (system("command -v logrotate > /dev/null") != 0) {
        GTEST_SKIP() << "logrotate is not installed";
    }
    DaemonProcess daemon;
    const std::string dir = daemon.Dir();
    // The shipped snippet, pointed at this test's directory.
    const std::string conf = dir + "/logrotate.conf";
    {
        std::ifstream in(std::string(TESSARON_SOURCE_DIR) + "/data/logrotate/tessaron");
        std::ofstream out(conf);
        std::string line;
        while (std::getline(in, line)) {
            const size_t at = line.find("/var/log/tessaron/");
            out << (at == std::string::npos ? line : dir + "/" + line.substr(at + 18)) << "\n";
        }
    }
    const std::string rotate = "logrotate -f -s '" + dir + "/state' '" + conf + "'";
    daemon.Start({"--no-card-control", "--listen", daemon.ListenOption(), "--ui",
                  LoopbackOption(FreeUdpPort()), kSignatures, "out.log", "energy.log"});
    ASSERT_TRUE(daemon.WaitFor(false, "#Size of fft_stats: 1360\n"));

    const std::string energy = dir + "/energy.log";
    // The fourth visit of each batch stays open until the next batch.
    uint64_t t = SendVisits(daemon, 1000, 4);
    ASSERT_TRUE(WaitForLines(energy, 3)) << ReadFile(energy);
    ASSERT_TRUE(daemon.WaitFor(false, "Updating energy log file name"));
    ASSERT_EQ(system(rotate.c_str()), 0);
    ASSERT_EQ(access(energy.c_str(), F_OK), -1) << "rotation left the log in place";

    // Rotated mid-run: the next visits go to a fresh file.
    t = SendVisits(daemon, t, 4);
    ASSERT_TRUE(WaitForLines(energy, 4)) << ReadFile(energy);
    ASSERT_EQ(system(rotate.c_str()), 0);
    SendVisits(daemon, t, 4);
    ASSERT_TRUE(WaitForLines(energy, 4)) << ReadFile(energy);
    EXPECT_TRUE(daemon.IsRunning());
    EXPECT_EQ(ExitCode(daemon.Stop(SIGTERM)), 0);

    // Two rotations: the older compressed, the newer waiting a cycle
    // (delaycompress), the current one fresh; no line lost or repeated.
    EXPECT_EQ(access((dir + "/energy.log.2.gz").c_str(), F_OK), 0);
    const std::string all = ReadFile(energy) + ReadFile(energy + ".1");
    ASSERT_EQ(system(("gzip -dc '" + dir + "/energy.log.2.gz' > '" + dir + "/oldest'").c_str()), 0);
    const std::string oldest = ReadFile(dir + "/oldest");
    EXPECT_EQ(CountLines(oldest, "SPECTRUM"), 3u);
    EXPECT_EQ(CountLines(ReadFile(energy + ".1"), "SPECTRUM"), 4u);
    EXPECT_EQ(CountLines(ReadFile(energy), "SPECTRUM"), 4u);
    EXPECT_EQ(CountLines(oldest + all, "SPECTRUM"), 11u);
}

TEST(Service, CardShellOtherThanBinShIsNamed) {
    // The wrapper runs the commands (the startup tests check them); the
    // banner says which program does.
    DaemonProcess daemon;
    const std::string shell = daemon.StartLive(LoopbackOption(FreeUdpPort()), {kSignatures});
    ASSERT_TRUE(daemon.WaitFor(false, "Using SleepSwitchChannel...\n"));
    EXPECT_NE(daemon.Stdout().find("Card commands run through " + shell +
                                   "\nUsing SleepSwitchChannel...\n"),
              std::string::npos)
        << daemon.Stdout();
    EXPECT_EQ(ExitCode(daemon.Stop(SIGTERM)), 0);
}
