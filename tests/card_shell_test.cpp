#include "card_shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <set>

#include "temp_path.h"

namespace {

// A file system that holds exactly the given executables.
std::function<bool(const std::string&)> Holding(std::set<std::string> present) {
    return [present](const std::string& path) { return present.count(path) > 0; };
}

}  // namespace

TEST(CardShell, ChoiceFollowsWhatTheSystemHas) {
    // A Linux board: /bin/sh, as ever.
    CardShell board = ChooseCardShell("", Holding({"/bin/sh", "/system/bin/sh"}));
    EXPECT_EQ(board.program, "/bin/sh");
    EXPECT_TRUE(board.is_shell);
    // A phone: no /bin/sh.
    EXPECT_EQ(ChooseCardShell("", Holding({"/system/bin/sh"})).program, "/system/bin/sh");
    // Neither: /bin/sh, whose failure the card commands will report.
    EXPECT_EQ(ChooseCardShell("", Holding({})).program, "/bin/sh");
    // Named on the command line: a shell gets -c, a wrapper the command alone.
    EXPECT_TRUE(ChooseCardShell("/system/bin/sh", Holding({})).is_shell);
    EXPECT_TRUE(ChooseCardShell("/usr/bin/bash", Holding({})).is_shell);
    const CardShell wrapper = ChooseCardShell("/tmp/record-shell", Holding({"/bin/sh"}));
    EXPECT_EQ(wrapper.program, "/tmp/record-shell");
    EXPECT_FALSE(wrapper.is_shell);
}

TEST(CardShell, RunsCommandsWithoutTheLibraryShell) {
    const auto run = ExecShellRunner({"/bin/sh", true});
    std::string out;
    EXPECT_EQ(run("printf 'wlan1 %s\\n' up; echo second", &out), 0);
    EXPECT_EQ(out, "wlan1 up\nsecond\n");
    const int status = run("exit 3", nullptr);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    // A program that does not exist: the child reports 127, as a shell would.
    const int missing = ExecShellRunner({"/nonexistent/sh", true})("true", nullptr);
    ASSERT_TRUE(WIFEXITED(missing));
    EXPECT_EQ(WEXITSTATUS(missing), 127);
}

TEST(CardShell, WrapperGetsTheCommandUnquoted) {
    const std::string script = TestTempPath("wrapper");
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\"\n";
    }
    chmod(script.c_str(), 0755);
    const auto run = ExecShellRunner(ChooseCardShell(script, IsExecutable));
    std::string out;
    const std::string command = "iwconfig wlan1 channel 6; echo 'it''s' \"$HOME\" > /dev/null";
    EXPECT_EQ(run(command, &out), 0);
    EXPECT_EQ(out, "1|" + command);
    unlink(script.c_str());
}
