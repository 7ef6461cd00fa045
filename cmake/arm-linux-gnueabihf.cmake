# Cross build for the target: 32-bit ARM, hard-float EABI, with Debian's
# g++-arm-linux-gnueabihf. Test programs run under qemu-arm with the cross
# sysroot as their library root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(TESSARON_ARM_SYSROOT /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH ${TESSARON_ARM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TESSARON_QEMU_ARM NAMES qemu-arm-static qemu-arm)
if(TESSARON_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSARON_QEMU_ARM} -L ${TESSARON_ARM_SYSROOT})
endif()
