// A temporary file name of the running test's own: ctest runs the tests of one
// binary in parallel processes, so fixed names would collide.
#ifndef TESSARON_TESTS_KIT_TEMP_PATH_H
#define TESSARON_TESTS_KIT_TEMP_PATH_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

inline std::string TestTempPath(const std::string& stem) {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                       : std::string("global");
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return testing::TempDir() + "/" + stem + "-" + std::to_string(getpid()) + "-" + name;
}

#endif
