#include "output_options.h"

#include <gtest/gtest.h>

TEST(OutputOptions, TakenOutOfTheCommandLineLeavingTheDaemonsOwn) {
    std::vector<std::string> args = {"--ui", "127.0.0.1:5000", "--sensor=lab-1",    "--json",
                                     "-",    "--mqtt",         "broker.local:1883", "sig.txt",
                                     "--",   "--json"};
    OutputOptions o;
    std::string error;
    ASSERT_TRUE(TakeOutputOptions(&args, &o, &error)) << error;
    EXPECT_EQ(args,
              (std::vector<std::string>{"--ui", "127.0.0.1:5000", "sig.txt", "--", "--json"}));
    EXPECT_EQ(o.sensor, "lab-1");
    EXPECT_EQ(o.json_path, "-");
    EXPECT_EQ(o.mqtt_host, "broker.local");
    EXPECT_EQ(o.mqtt_port, 1883);
    EXPECT_TRUE(IsValidSensorName(DefaultSensorName()));
}

TEST(OutputOptions, BadValuesAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"--sensor", "a/b"},
        {"--sensor", "+"},
        {"--sensor"},
        {"--json"},
        {"--mqtt", "host"},
        {"--mqtt", "host:0"},
        {"--mqtt", "host:65536"},
        {"--mqtt", ":1883"},
        {"--mqtt", "host:18x3"},
        {"--mqtt-user", "me"},
        {"--mqtt", "h:1", "--mqtt-cert", "c.pem"},
    };
    for (std::vector<std::string> args : bad) {
        OutputOptions o;
        std::string error;
        EXPECT_FALSE(TakeOutputOptions(&args, &o, &error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}
