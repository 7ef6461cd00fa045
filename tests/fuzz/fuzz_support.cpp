// Start-up shared by every fuzz target.
#include <cstdio>

// Diagnostics on stdout would only slow the fuzzer down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::perror("freopen");
    }
    return 0;
}
