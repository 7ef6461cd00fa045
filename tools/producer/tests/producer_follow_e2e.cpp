// A relay file grows while tessaron-producer --follow reads it and feeds a
// live daemon over loopback: a continuous narrow carrier written into the
// file comes out of the daemon as an analog cordless phone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "daemon_process.h"
#include "relay_test_support.h"
#include "temp_dir.h"
#include "ui_event_listener.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

class ProducerProcess {
public:
    ~ProducerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void Start(const std::vector<std::string>& args, const std::string& stderr_path) {
        pid_ = fork();
        if (pid_ == 0) {
            const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            std::vector<char*> argv = {const_cast<char*>(TESSARON_PRODUCER_BINARY)};
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(TESSARON_PRODUCER_BINARY, argv.data());
            _exit(127);
        }
    }
    int Stop() {
        int status = -1;
        kill(pid_, SIGTERM);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

// Magnitudes and report power for a wanted power per bin (dBm): the strongest
// bin gets 255, the others their amplitude ratio to it.
std::vector<uint8_t> CarrierRecord(uint64_t tsf, int noise) {
    double dbm[relay::HT20_BINS];
    for (double& p : dbm) {
        p = -95.0;
    }
    dbm[31] = -48.0;  // daemon entry 33
    dbm[30] = -61.0;
    dbm[32] = -61.0;
    uint8_t bins[relay::HT20_BINS];
    double total_mw = 0;
    for (size_t i = 0; i < relay::HT20_BINS; i++) {
        bins[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(10.0, (dbm[i] + 48.0) / 20.0)));
        total_mw += std::pow(10.0, dbm[i] / 10.0);
    }
    relay_test::Ht20Fields f;
    f.freq = 2442;
    f.tsf = tsf;
    f.noise = static_cast<int8_t>(noise);
    f.rssi = static_cast<int8_t>(std::lround(10.0 * std::log10(total_mw)) - noise);
    return relay_test::Ht20Record(f, bins);
}

TEST(ProducerFollow, CarrierWrittenToARelayFileIsAnnouncedByTheDaemon) {
    EventCollector ui;
    DaemonProcess daemon;
    daemon.Start({"--listen", daemon.ListenOption(), "--ui", ui.Address(), "--no-card-control",
                  kSignatures, "out.log", "energy.log"});
    ASSERT_TRUE(daemon.WaitFor(false, "#Size of fft_stats: 1360\n"));

    const std::string relay_file = daemon.Dir() + "/spectral_scan0";
    std::ofstream out(relay_file, std::ios::binary);
    // Something other than a report first: the producer must skip it.
    const std::vector<uint8_t> other = relay_test::Record(relay::REPORT_HT20_40, 152);
    out.write(reinterpret_cast<const char*>(other.data()),
              static_cast<std::streamsize>(other.size()));
    out.flush();
    ProducerProcess producer;
    const std::string producer_err = daemon.Dir() + "/producer.err";
    producer.Start({"--input", relay_file, "--follow", "--to", daemon.ListenOption()},
                   producer_err);

    // Device lifetimes are host seconds: write in real time, one report per
    // millisecond of card time, until the announcement or 8 s.
    const auto start = std::chrono::steady_clock::now();
    uint64_t tsf = 1000;
    uint64_t written = 0;
    bool announced = false;
    while (!announced && std::chrono::steady_clock::now() - start < std::chrono::seconds(8)) {
        for (int i = 0; i < 70; i++, tsf += 1000, written++) {
            const std::vector<uint8_t> r = CarrierRecord(tsf, written % 2 ? -92 : -97);
            out.write(reinterpret_cast<const char*>(r.data()),
                      static_cast<std::streamsize>(r.size()));
        }
        out.flush();
        std::this_thread::sleep_until(start + std::chrono::microseconds(tsf));
        announced = ui.WaitFor("\"Analog_Phone\"", 0);
    }
    ASSERT_TRUE(announced) << daemon.Stdout() << ReadFile(producer_err);
    bool on_channel = false;
    for (const std::string& e : ui.Events()) {
        if (e.find("Analog_Phone") != std::string::npos) {
            on_channel = on_channel || e.find("\"2442.00\"") != std::string::npos;
        }
    }
    EXPECT_TRUE(on_channel);

    const int status = producer.Stop();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string summary = ReadFile(producer_err);
    const std::string expected = "Producer: " + std::to_string(written + 1) + " records read, " +
                                 std::to_string(written) + " converted, 1 skipped, ";
    EXPECT_NE(summary.find(expected), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 20/40 MHz reports"), std::string::npos) << summary;
    // The daemon saw only well-formed datagrams.
    EXPECT_EQ(daemon.Stderr().find("not of the right size"), std::string::npos) << daemon.Stderr();
    EXPECT_TRUE(daemon.IsRunning());
}

}  // namespace
