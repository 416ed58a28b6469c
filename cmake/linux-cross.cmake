# Cross build for Linux on another processor with Debian's cross compilers,
# its tests run under Debian's qemu-user (qemu-user-static). The preset
# names the processor and the compiler prefix, e.g. aarch64-linux-gnu from
# g++-aarch64-linux-gnu or arm-linux-gnueabihf from g++-arm-linux-gnueabihf.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT CROSS_PREFIX)
	message(FATAL_ERROR "set CROSS_PREFIX, e.g. -DCROSS_PREFIX=aarch64-linux-gnu")
endif()
# try_compile reads this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_PREFIX)

set(CMAKE_C_COMPILER ${CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_PREFIX}-g++)
# qemu-aarch64-static for aarch64-linux-gnu, qemu-arm-static for arm-*.
string(REGEX MATCH "^[^-]+" qemu_target ${CROSS_PREFIX})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_target}-static)
set(EMULATOR_PACKAGE qemu-user-static)

set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
