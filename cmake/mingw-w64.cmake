# Cross build for Windows with Debian's MinGW-w64. The preset names the
# processor and the compiler prefix, e.g. i686-w64-mingw32 from
# g++-mingw-w64-i686 or x86_64-w64-mingw32 from g++-mingw-w64-x86-64.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT MINGW_PREFIX)
	message(FATAL_ERROR "set MINGW_PREFIX, e.g. -DMINGW_PREFIX=i686-w64-mingw32")
endif()
# try_compile reads this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_PREFIX)

set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
