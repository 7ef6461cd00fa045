# AddressSanitizer and UndefinedBehaviorSanitizer over everything built after
# this point (core, daemon, tests, tools). Any report aborts the process, so a
# test that provokes one fails instead of printing and carrying on.
if(TESSARON_SANITIZE)
    set(TESSARON_SANITIZER_FLAGS
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_options(${TESSARON_SANITIZER_FLAGS})
    add_link_options(${TESSARON_SANITIZER_FLAGS})
endif()

# Fuzz builds instrument everything for libFuzzer's coverage feedback; the
# fuzz targets themselves add the libFuzzer driver at link time.
if(TESSARON_FUZZ)
    set(TESSARON_FUZZ_FLAGS
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
        -fno-omit-frame-pointer)
    add_compile_options(${TESSARON_FUZZ_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()
