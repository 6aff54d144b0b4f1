# Windows build: the product exe, statically linked so that it imports
# system DLLs only, plus the Windows-side tests and tools run under Wine.
# The posix-thread tree (LU_MINGW_THREADS=posix) builds only the Windows-side
# GoogleTest programs; everything else comes from the win32-thread tree.
enable_language(RC)
file(GLOB WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
target_sources(installer_core PRIVATE ${WIN32_SOURCES})
# Windows 2000 headers: a call newer than that does not compile and has to
# be looked up at run time.
target_compile_definitions(installer_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0500 WINVER=0x0500)
# Optimised for size, taking the shorter instruction even where it is a
# little slower (-Oz). Arguments pushed instead of stored, and the stack
# aligned as the Win32 calling convention has it (4 bytes): smaller code.
# Stack probes are then not made, so no frame may reach the 4 KiB guard
# page: a frame larger than 3 KiB fails the build.
target_compile_options(installer_core PUBLIC -Oz -ffunction-sections -fdata-sections -mno-stack-arg-probe
                       -mpreferred-stack-boundary=2 -Werror=frame-larger-than=3072)

set(LU_SYSTEM_LIBS ole32 oleaut32 uuid user32 gdi32 advapi32 kernel32)
target_link_libraries(installer_core PUBLIC ${LU_SYSTEM_LIBS})
set(LU_STATIC_LINK -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s)
set(LU_E2E_WORK ${CMAKE_BINARY_DIR}/e2e CACHE PATH "Work folder of the Wine tests (base prefix cache)")

if(LU_MINGW_THREADS STREQUAL "posix")
    add_subdirectory(tests/win)
    add_subdirectory(tests/compat)
    return()
endif()

# The product is optimised across files at link time: a smaller exe. In one
# partition: GCC 12 can fail internally (binds_to_current_def_p) when a
# constructor and its callers land in different partitions.
target_compile_options(installer_core PUBLIC -flto)
# No run-time type information in the product and the tools built with it:
# nothing asks for it, and exceptions keep what they need.
target_compile_options(installer_core PUBLIC -fno-rtti)
# The product and the tools built with it run all their code on one thread
# (timers and DDE callbacks included), so a function-local static needs no
# lock around its first initialisation.
target_compile_options(installer_core PUBLIC -fno-threadsafe-statics)
target_link_options(installer_core INTERFACE -flto -flto-partition=one)
# The event log's message file: the message compiler's table in a DLL of
# resources only, which the install keeps in the record folder. The
# installer carries the DLL, and the table itself for the 95 family's line.
find_program(LU_WINDMC NAMES i686-w64-mingw32-windmc windmc REQUIRED)
set(LU_EVENTS_DIR ${CMAKE_BINARY_DIR}/events)
file(MAKE_DIRECTORY ${LU_EVENTS_DIR})
add_custom_command(OUTPUT ${LU_EVENTS_DIR}/events.rc ${LU_EVENTS_DIR}/events.h ${LU_EVENTS_DIR}/MSG00409.bin
    COMMAND ${LU_WINDMC} -U -h ${LU_EVENTS_DIR} -r ${LU_EVENTS_DIR} ${CMAKE_SOURCE_DIR}/resources/events.mc
    DEPENDS resources/events.mc VERBATIM)
add_library(LiveUpdateEvents SHARED resources/LiveUpdateEvents.rc)
set_target_properties(LiveUpdateEvents PROPERTIES PREFIX "" LINKER_LANGUAGE C)
target_include_directories(LiveUpdateEvents PRIVATE ${LU_EVENTS_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_link_options(LiveUpdateEvents PRIVATE -nostdlib -s -Wl,-e,0 -Wl,--subsystem,windows)
set_source_files_properties(resources/LiveUpdateEvents.rc PROPERTIES
    OBJECT_DEPENDS "${LU_EVENTS_DIR}/events.rc;${LU_EVENTS_DIR}/MSG00409.bin")

add_executable(LiveUpdateSetup WIN32 src/app/main.cpp src/app/lean_runtime.cpp resources/LiveUpdateSetup.rc)
target_include_directories(LiveUpdateSetup PRIVATE ${LU_EVENTS_DIR})
add_dependencies(LiveUpdateSetup LiveUpdateEvents)
target_link_libraries(LiveUpdateSetup PRIVATE installer_core)
target_link_options(LiveUpdateSetup PRIVATE ${LU_STATIC_LINK})
# Data that a DLL exports is only reached through a dllimport declaration:
# the link refuses any other reference to it instead of leaving it for the
# start-up code to patch, whose patcher the program leaves out
# (src/app/lean_runtime.cpp).
target_link_options(LiveUpdateSetup PRIVATE -Wl,--disable-auto-import)
set_source_files_properties(resources/LiveUpdateSetup.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/banner.gif;${CMAKE_SOURCE_DIR}/resources/setup.ico;${CMAKE_SOURCE_DIR}/resources/LiveUpdateSetup.manifest;${LU_EVENTS_DIR}/LiveUpdateEvents.dll;${LU_EVENTS_DIR}/MSG00409.bin")
set_target_properties(LiveUpdateEvents PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LU_EVENTS_DIR})

# The package checker as a Windows console program, from the same sources.
add_executable(lucheck src/lucheck/main.cpp ${LUCHECK_SOURCES})
target_link_libraries(lucheck PRIVATE installer_core)
target_link_options(lucheck PRIVATE ${LU_STATIC_LINK})

foreach(dir tests/payload tests/win tests/dde tests/e2e tests/compat tests/lucheck)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endforeach()
