# Windows build: the product exe, statically linked so that it imports
# system DLLs only, plus the Windows-side tests and tools run under Wine.
enable_language(RC)
file(GLOB WIN32_SOURCES CONFIGURE_DEPENDS src/platform/win32/*.cpp)
target_sources(installer_core PRIVATE ${WIN32_SOURCES})
target_compile_definitions(installer_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600)
target_compile_options(installer_core PUBLIC -Os -ffunction-sections -fdata-sections)

set(LU_SYSTEM_LIBS ole32 oleaut32 uuid user32 gdi32 advapi32 kernel32)
target_link_libraries(installer_core PUBLIC ${LU_SYSTEM_LIBS})
set(LU_STATIC_LINK -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s)

add_executable(LiveUpdateSetup WIN32 src/app/main.cpp resources/LiveUpdateSetup.rc)
target_link_libraries(LiveUpdateSetup PRIVATE installer_core)
target_link_options(LiveUpdateSetup PRIVATE ${LU_STATIC_LINK})
set_source_files_properties(resources/LiveUpdateSetup.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/banner.gif;${CMAKE_SOURCE_DIR}/resources/setup.ico;${CMAKE_SOURCE_DIR}/resources/LiveUpdateSetup.manifest")

foreach(dir tests/payload tests/win tests/dde tests/e2e)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endforeach()
