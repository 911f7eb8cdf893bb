# Shared build settings and the helpers every folder uses to declare its targets.
include(GoogleTest)

option(KX7_SANITIZE "Build the native code with AddressSanitizer and UBSan" OFF)
option(KX7_TSAN "Build the native code with ThreadSanitizer" OFF)
option(KX7_FUZZ "Build the libFuzzer targets (clang) with AddressSanitizer and UBSan" OFF)
# Off on a machine whose Wine cannot start this build's programs: the Windows tests are still
# built, but not registered, because CTest would try to list their cases through Wine.
option(KX7_WINE_TESTS "Register the Windows tests that run under Wine" ON)

add_library(kx7_warnings INTERFACE)
target_compile_options(kx7_warnings INTERFACE -Wall -Wextra -Werror)

if(WIN32)
    enable_language(RC)
    include(${CMAKE_CURRENT_LIST_DIR}/Kx7Icon.cmake)
    include(${CMAKE_CURRENT_LIST_DIR}/Kx7Sign.cmake)
    # Only system DLLs may be imported; -static also brings libssp in, which _FORTIFY_SOURCE
    # needs to link with mingw-w64.
    add_compile_options(-fstack-protector-strong -D_FORTIFY_SOURCE=2 -ffunction-sections
                        -fdata-sections)
    add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    add_link_options(-static -fstack-protector-strong -Wl,--gc-sections -Wl,--dynamicbase
                     -Wl,--nxcompat)
    # The shipped programs are 32-bit. The x86_64 build exists only to run the same tests under
    # 64-bit Wine on machines whose kernel cannot start 32-bit programs.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(KX7_WINEARCH win64)
    else()
        set(KX7_WINEARCH win32)
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${PROJECT_SOURCE_DIR}/cmake/wine-run.sh;${KX7_WINEARCH};${CMAKE_BINARY_DIR}/wineprefix")
    # The tests that change what a Wine prefix holds (its registry, the one running connector,
    # installed programs) run side by side in slots: each slot has a prefix and a virtual screen
    # of its own (cmake/wine-run.sh), and CTest gives a slot to one such test at a time. The
    # test presets name the slots file.
    cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
    if(cores LESS 2)
        set(cores 2)
    endif()
    set(KX7_WINE_SLOTS ${cores} CACHE STRING "How many Wine tests may run side by side")
    set(slots)
    foreach(slot RANGE 1 ${KX7_WINE_SLOTS})
        list(APPEND slots "{\"id\": \"${slot}\", \"slots\": 1}")
    endforeach()
    list(JOIN slots ", " slots)
    file(WRITE ${CMAKE_BINARY_DIR}/wine-slots.json
         "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"wine\": [${slots}]}]}\n")
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
    find_package(Threads REQUIRED)
    if(KX7_SANITIZE)
        add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer)
        add_link_options(-fsanitize=address,undefined)
    endif()
    if(KX7_TSAN)
        add_compile_options(-fsanitize=thread)
        add_link_options(-fsanitize=thread)
    endif()
    if(KX7_FUZZ)
        if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
            message(FATAL_ERROR "the fuzz targets need clang (the fuzz preset selects it)")
        endif()
        # Every library is instrumented for coverage; only the fuzz targets link libFuzzer's
        # main (see tests/fuzz).
        add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all
                            -fno-omit-frame-pointer)
        add_link_options(-fsanitize=address,undefined)
    endif()
endif()

# kx7_library(NAME SOURCES ... [DEPS ...])
# A static library of one subsystem. Files ending in _win.cpp hold the Win32 backends and are
# left out of the native build, so the portable logic never depends on <windows.h>.
function(kx7_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    set(sources)
    foreach(src ${ARG_SOURCES})
        if(src MATCHES "_win\\.cpp$" AND NOT WIN32)
            continue()
        endif()
        list(APPEND sources ${src})
    endforeach()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE kx7_warnings)
endfunction()

# kx7_test(NAME [SERIAL] [EVENTLOG] SOURCES ... [DEPS ...])
# A GoogleTest executable: native on Linux, or cross-built and run through Wine by CTest.
# Discovery runs at test time so that building never needs Wine. SERIAL Windows tests change
# what their Wine prefix holds (the registry, the single running connector): each runs in a Wine
# slot of its own (see above), never beside another test in the same prefix. The cases of one
# such program also share the files they leave beside it (a stand-in's log, an installer's):
# they run one after another, while other programs' cases run beside them. EVENTLOG Windows
# tests find what their programs reported to the event log in NAME-eventlog.txt beside them.
function(kx7_test name)
    cmake_parse_arguments(ARG "SERIAL;EVENTLOG" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    if(WIN32)
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} gtest_main gmock kx7_warnings)
        target_link_options(${name} PRIVATE -mconsole)
    else()
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main GTest::gmock
                                              Threads::Threads kx7_warnings)
    endif()
    if(WIN32 AND NOT KX7_WINE_TESTS)
        return()
    endif()
    set(slot)
    if(ARG_SERIAL AND WIN32)
        set(slot RESOURCE_GROUPS wine:1 RESOURCE_LOCK ${name}
                 FIXTURES_REQUIRED kx7_wine_slots)
    endif()
    if(ARG_EVENTLOG AND WIN32)
        list(APPEND slot ENVIRONMENT
             KX7_WINE_EVENTLOG=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name}-eventlog.txt)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         EXTRA_ARGS --gtest_color=no PROPERTIES TIMEOUT 120 ${slot})
endfunction()
