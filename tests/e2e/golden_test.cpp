// Replays the committed scenario captures under data/golden/ and compares
// everything the daemon emits (standard output, the UI event datagrams, the
// output log and the energy log) byte for byte with the recorded outputs.
// Any change to the signal path that moves one figure shows up here.
//
// To re-record after an intended change of output:
//   TESSARON_GOLDEN_UPDATE=1 ./e2e_golden_test
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "daemon_process.h"

namespace {

const std::string kGoldenDir = std::string(TESSARON_SOURCE_DIR) + "/data/golden";
// The signature file the golden outputs were recorded with, kept apart from
// the shipped one so that these tests guard the code, not the data.
const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/golden/signatures.txt";

// Every capture in the golden directory (gzip-compressed pcap), without its
// extension.
std::vector<std::string> GoldenScenarios() {
    std::vector<std::string> names;
    DIR* dir = opendir(kGoldenDir.c_str());
    if (dir == nullptr) {
        return names;
    }
    const std::string suffix = ".pcap.gz";
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name.substr(0, name.size() - suffix.size()));
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Event datagrams as one file: a header line with the length of each
// datagram, then its exact bytes and a newline.
std::string JoinEvents(const std::vector<std::string>& events) {
    std::string out;
    for (const std::string& e : events) {
        out += "--- datagram " + std::to_string(e.size()) + " bytes\n";
        out += e;
        out += "\n";
    }
    return out;
}

struct GoldenRun {
    int exit_code = -1;
    std::string stderr_text;
    std::string stdout_text;
    std::string events;
    std::string output_log;
    std::string energy_log;
};

GoldenRun Replay(const std::string& compressed) {
    // Device lines carry local calendar times.
    setenv("TZ", "UTC", 1);
    EventCollector ui;
    DaemonProcess daemon;
    const std::string capture = daemon.Dir() + "/capture.pcap";
    const std::string unpack = "gzip -dc '" + compressed + "' > '" + capture + "'";
    GoldenRun run;
    if (system(unpack.c_str()) != 0) {
        run.stderr_text = "cannot unpack " + compressed;
        return run;
    }
    daemon.Start({"--replay", capture, "--ui", ui.Address(), kSignatures, "out.log", "energy.log"});
    const int status = daemon.Wait();
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ui.Settle(200);
    run.stderr_text = daemon.Stderr();
    run.stdout_text = daemon.Stdout();
    run.events = JoinEvents(ui.Events());
    run.output_log = ReadFile(daemon.Dir() + "/out.log");
    run.energy_log = ReadFile(daemon.Dir() + "/energy.log");
    return run;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Index of the first differing byte and the lines around it, for a readable
// failure instead of two multi-megabyte strings.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) {
        i++;
    }
    const auto around = [i](const std::string& s) {
        const size_t from = s.rfind('\n', i == 0 ? 0 : i - 1);
        const size_t begin = from == std::string::npos ? 0 : from + 1;
        return s.substr(begin, std::min<size_t>(300, s.size() - std::min(begin, s.size())));
    };
    return "first difference at byte " + std::to_string(i) + " (sizes " +
           std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ")\nexpected: " + around(expected) + "\nactual:   " + around(actual);
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, ReplayMatchesRecordedOutputs) {
    const std::string base = kGoldenDir + "/" + GetParam();
    const GoldenRun run = Replay(base + ".pcap.gz");
    ASSERT_EQ(run.exit_code, 0) << run.stderr_text;

    const std::vector<std::pair<std::string, const std::string*>> outputs = {
        {".stdout", &run.stdout_text},
        {".events", &run.events},
        {".out.log", &run.output_log},
        {".energy.log", &run.energy_log},
    };
    if (getenv("TESSARON_GOLDEN_UPDATE") != nullptr) {
        for (const auto& [suffix, text] : outputs) {
            WriteFile(base + suffix, *text);
        }
        GTEST_SKIP() << "recorded " << base;
    }
    for (const auto& [suffix, text] : outputs) {
        const std::string expected = ReadFile(base + suffix);
        ASSERT_FALSE(expected.empty() && !text->empty()) << base + suffix << " is missing";
        EXPECT_TRUE(expected == *text) << base + suffix << ": " << FirstDifference(expected, *text);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Golden, ::testing::ValuesIn(GoldenScenarios()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !isalnum(static_cast<unsigned char>(c)); },
                                 '_');
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Golden);

TEST(GoldenSet, SeveralScenariosAreCommitted) {
    EXPECT_GE(GoldenScenarios().size(), 3u) << "no golden captures under " << kGoldenDir;
}

}  // namespace
