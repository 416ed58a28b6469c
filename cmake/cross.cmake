# Cross builds with Debian's cross compilers. The preset names the processor
# and the compiler prefix: i686-w64-mingw32 (g++-mingw-w64-i686) or
# x86_64-w64-mingw32 (g++-mingw-w64-x86-64) for Windows, its tests run
# under the Wine the preset names; aarch64-linux-gnu (g++-aarch64-linux-gnu)
# or arm-linux-gnueabihf (g++-arm-linux-gnueabihf) for Linux, its tests run
# under Debian's qemu-user (qemu-user-static).
if(NOT CROSS_PREFIX)
	message(FATAL_ERROR "set CROSS_PREFIX, e.g. -DCROSS_PREFIX=aarch64-linux-gnu")
endif()
# try_compile reads this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_PREFIX)

set(CMAKE_C_COMPILER ${CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_PREFIX}-g++)
if(CROSS_PREFIX MATCHES "-mingw32$")
	set(CMAKE_SYSTEM_NAME Windows)
	set(CMAKE_RC_COMPILER ${CROSS_PREFIX}-windres)
else()
	set(CMAKE_SYSTEM_NAME Linux)
	# qemu-aarch64-static for aarch64-linux-gnu, qemu-arm-static for arm-*.
	string(REGEX MATCH "^[^-]+" qemu_target ${CROSS_PREFIX})
	set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_target}-static)
	set(EMULATOR_PACKAGE qemu-user-static)
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
