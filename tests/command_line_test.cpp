#include "command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// A tool with two flags (help ends the walk) and options that take a value;
// --count accepts digits only.
struct Tool {
    bool help = false;
    bool quiet = false;
    std::map<std::string, std::string> values;

    bool Parse(const std::vector<std::string>& args, std::string* error) {
        const auto takes_value = [](const std::string& name) {
            return name == "--out" || name == "--count";
        };
        const auto take = [this](const std::string& name, const std::string& value,
                                 std::string* why) {
            if (name == "--count" && value.find_first_not_of("0123456789") != std::string::npos) {
                *why = "--count needs digits";
                return false;
            }
            values[name] = value;
            return true;
        };
        return WalkOptions(args, {{"--help", &help, true}, {"--quiet", &quiet, false}}, takes_value,
                           take, error);
    }
};

TEST(WalkOptions, FlagsAndValuesInAnyOrder) {
    Tool tool;
    std::string error;
    ASSERT_TRUE(tool.Parse({"--out", "--quiet", "--quiet", "--count", "12"}, &error)) << error;
    // An option's value is taken as given, even when it looks like a flag.
    EXPECT_EQ(tool.values["--out"], "--quiet");
    EXPECT_TRUE(tool.quiet);
    EXPECT_EQ(tool.values["--count"], "12");
    EXPECT_FALSE(tool.help);
}

TEST(WalkOptions, FailuresSayWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown argument '--bogus'"},
        {{"plain"}, "unknown argument 'plain'"},
        {{"--quiet", "--out"}, "--out needs a value"},
        {{"--count", "1x"}, "--count needs digits"},
    };
    for (const auto& [args, reason] : cases) {
        Tool tool;
        std::string error;
        EXPECT_FALSE(tool.Parse(args, &error)) << reason;
        EXPECT_EQ(error, reason);
    }
}

TEST(WalkOptions, HelpEndsTheWalkWhateverFollows) {
    Tool tool;
    std::string error;
    ASSERT_TRUE(tool.Parse({"--quiet", "--help", "--bogus", "--out"}, &error));
    EXPECT_TRUE(tool.help);
    EXPECT_TRUE(tool.quiet);
    EXPECT_TRUE(error.empty());
}

TEST(WalkOptions, ArgumentsSkipTheProgramName) {
    const char* const argv[] = {"tool", "--out", "x"};
    EXPECT_EQ(ArgumentsOf(3, argv), (std::vector<std::string>{"--out", "x"}));
    EXPECT_TRUE(ArgumentsOf(1, argv).empty());
}

TEST(OptionHelpLines, TextsShareOneColumnAndLongOptionsKeepTwoSpaces) {
    EXPECT_EQ(OptionHelpLines({{"--to ADDR", "send here"},
                               {"--exactly-12", "just fits"},
                               {"--much-longer-option X", "after two spaces"},
                               {"--flush N", "first line\nsecond line"}},
                              14),
              "  --to ADDR     send here\n"
              "  --exactly-12  just fits\n"
              "  --much-longer-option X  after two spaces\n"
              "  --flush N     first line\n"
              "                second line\n");
}

}  // namespace
