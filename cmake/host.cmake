# Host build: unit tests against test doubles, and benchmarks.
find_package(GTest REQUIRED)
option(LU_SANITIZE "Build host tests with address and undefined-behaviour sanitizers" ON)
if(LU_SANITIZE)
    target_compile_options(installer_core PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(installer_core PUBLIC -fsanitize=address,undefined)
endif()
add_library(lucheck_core STATIC ${LUCHECK_SOURCES})
target_link_libraries(lucheck_core PUBLIC installer_core)
add_executable(lucheck src/lucheck/main.cpp)
target_link_libraries(lucheck PRIVATE lucheck_core)
add_subdirectory(tests/lucheck)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/unit/CMakeLists.txt)
    add_subdirectory(tests/unit)
endif()
# What the list reader needs, with the test doubles: compiled straight into
# the benchmark (optimised, no sanitizers) and the fuzz target (clang).
set(LU_LIST_READER_SOURCES
    ${CMAKE_SOURCE_DIR}/src/setup/update_list.cpp
    ${CMAKE_SOURCE_DIR}/src/setup/class_data.cpp
    ${CMAKE_SOURCE_DIR}/src/setup/paths.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/controls.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/install_lock.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/runtime_error.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/sequential_files.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/text.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/text_portable.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/wininit.cpp
    ${CMAKE_SOURCE_DIR}/tests/unit/fakes.cpp)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/bench/CMakeLists.txt)
    add_subdirectory(tests/bench)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
    add_subdirectory(tests/fuzz)
endif()
