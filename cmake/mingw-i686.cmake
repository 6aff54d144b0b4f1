# Cross-build for 32-bit Windows with mingw-w64.
#
# LU_MINGW_THREADS picks the compiler's thread model:
#   win32 (default)  the product and everything run beside it. Its runtime uses
#                    the system's own threads and imports nothing newer than
#                    Windows 98 and 2000 offer (the posix one needs
#                    GetTickCount64, Vista on).
#   posix            the Windows-side GoogleTest programs, which need std::mutex.
if(NOT LU_MINGW_THREADS)
    set(LU_MINGW_THREADS win32)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LU_MINGW_THREADS)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${LU_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${LU_MINGW_THREADS})
# The compiler's own archiver, so that link-time-optimised objects keep a symbol index.
set(CMAKE_AR i686-w64-mingw32-gcc-ar-${LU_MINGW_THREADS})
set(CMAKE_RANLIB i686-w64-mingw32-gcc-ranlib-${LU_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
