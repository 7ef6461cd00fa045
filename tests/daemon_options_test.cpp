#include "daemon_options.h"
#include "host_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<const char*> args, DaemonOptions* options, std::string* error) {
    args.insert(args.begin(), "tessaron");
    return ParseDaemonOptions(static_cast<int>(args.size()), args.data(), options, error);
}

}  // namespace

TEST(DaemonOptions, DefaultsKeepThePositionalMeaning) {
    DaemonOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"sig.txt", "out.log", "energy.log", "phy0", "wlan0"}, &o, &error));
    EXPECT_EQ(o.positional, (std::vector<std::string>{"tessaron", "sig.txt", "out.log",
                                                      "energy.log", "phy0", "wlan0"}));
    EXPECT_EQ(ntohs(o.listen_addr.sin_port), 10000);
    EXPECT_EQ(o.listen_addr.sin_addr.s_addr, htonl(INADDR_ANY));
    EXPECT_EQ(ntohs(o.ui_addr.sin_port), 5000);
    EXPECT_TRUE(o.card_control);
    EXPECT_TRUE(o.replay_file.empty());
}

TEST(DaemonOptions, OptionsBeforePositionals) {
    DaemonOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--listen", "127.0.0.1:4000", "--ui=127.0.0.2:0", "--no-card-control",
                       "--replay", "cap.pcap", "--realtime", "sig.txt"},
                      &o, &error))
        << error;
    EXPECT_EQ(ntohs(o.listen_addr.sin_port), 4000);
    EXPECT_EQ(o.listen_addr.sin_addr.s_addr, htonl(0x7F000001));
    EXPECT_EQ(o.ui_addr.sin_addr.s_addr, htonl(0x7F000002));
    EXPECT_FALSE(o.card_control);
    EXPECT_EQ(o.replay_file, "cap.pcap");
    EXPECT_TRUE(o.realtime);
    EXPECT_EQ(o.positional.size(), 2u);
    // An option after the first positional is a positional.
    ASSERT_TRUE(Parse({"sig.txt", "--help"}, &o, &error));
    EXPECT_EQ(o.positional.back(), "--help");
}

TEST(DaemonOptions, UsageErrors) {
    DaemonOptions o;
    std::string error;
    EXPECT_FALSE(Parse({}, &o, &error));
    EXPECT_FALSE(Parse({"sig", "log", "energy", "phy0"}, &o, &error));
    EXPECT_FALSE(Parse({"--bogus", "sig"}, &o, &error));
    EXPECT_NE(error.find("--bogus"), std::string::npos);
    EXPECT_FALSE(Parse({"--listen", "sig"}, &o, &error));
    EXPECT_FALSE(Parse({"--listen"}, &o, &error));
    EXPECT_FALSE(Parse({"--ui", "localhost:5000", "sig"}, &o, &error));
    EXPECT_FALSE(Parse({"--ui", "127.0.0.1:65536", "sig"}, &o, &error));
    EXPECT_FALSE(Parse({"--realtime", "sig"}, &o, &error));
    EXPECT_FALSE(Parse({"--no-card-control=1", "sig"}, &o, &error));
    EXPECT_TRUE(Parse({"--help"}, &o, &error));
    EXPECT_TRUE(o.show_help);
}

TEST(DaemonOptions, ShortHelpAndExtraArguments) {
    // -h is the usage text, not a signature file named "-h".
    DaemonOptions help;
    std::string error;
    ASSERT_TRUE(Parse({"-h"}, &help, &error));
    EXPECT_TRUE(help.show_help);
    // Six positionals: the sixth is not silently dropped.
    DaemonOptions o;
    EXPECT_FALSE(Parse({"sig", "log", "energy", "phy0", "wlan0", "extra"}, &o, &error));
    EXPECT_NE(error.find("'extra'"), std::string::npos) << error;
}

TEST(SocketAddress, ParsesDottedAddressAndPort) {
    sockaddr_in a;
    EXPECT_TRUE(ParseSocketAddress("0.0.0.0:10000", &a));
    EXPECT_EQ(ntohs(a.sin_port), 10000);
    EXPECT_FALSE(ParseSocketAddress(":10000", &a));
    EXPECT_FALSE(ParseSocketAddress("1.2.3.4:", &a));
    EXPECT_FALSE(ParseSocketAddress("1.2.3.4:-1", &a));
    EXPECT_FALSE(ParseSocketAddress("1.2.3.4:123456", &a));
    EXPECT_FALSE(ParseSocketAddress("1.2.3:80", &a));
}

// The split every ADDR:PORT option shares: last colon, decimal port only.
TEST(SocketAddress, SplitsAtLastColonAndBoundsThePort) {
    std::string host;
    uint16_t port = 1;
    EXPECT_TRUE(SplitHostPort("relay.lan:65535", &host, &port));
    EXPECT_EQ(host, "relay.lan");
    EXPECT_EQ(port, 65535);
    EXPECT_TRUE(SplitHostPort("::1:0", &host, &port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 0);
    for (const char* bad : {"host:65536", "host:+80", "host: 80", "host:0x50", "host", ":80",
                            "host:", "host:000080"}) {
        EXPECT_FALSE(SplitHostPort(bad, &host, &port)) << bad;
    }
}
