# Folders (relative to the top) that the Windows build leaves out: exports in them answer that they
# are not part of the build (kestrun/windows/unavailable_exports.cpp). The standard script objects
# are Linux's own; Windows scripts reach the system's objects through COM.
set(KESTRUN_WINDOWS_SKIPPED_DIRS "kestrun/automation/scripting")

# Test programs not built for Windows (none at present: cases that need POSIX facilities such as
# fork, symbolic links or FIFOs sit in *_posix_test.cpp files of their own).
set(KESTRUN_WINDOWS_SKIPPED_TESTS)

# A family's platform seams sit in files named *_posix.cpp; on Windows each is replaced by the
# *_win32.cpp beside it (or left out when there is none).
function(kestrun_platform_sources out)
    set(result "")
    foreach(source IN LISTS ARGN)
        if(WIN32 AND source MATCHES "^(.*)_posix\\.cpp$")
            get_filename_component(base "${CMAKE_MATCH_1}" ABSOLUTE)
            if(EXISTS "${base}_win32.cpp")
                list(APPEND result "${base}_win32.cpp")
            endif()
        elseif(NOT WIN32 AND source MATCHES "_win32\\.cpp$")
            continue()
        else()
            list(APPEND result "${source}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES result)
    set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Adds every immediate child folder of DIR that has a CMakeLists.txt, in name order, so that a new
# family, test suite, benchmark or tool only needs its own folder.
function(kestrun_add_child_dirs dir)
    if(dir STREQUAL ".")
        set(base "${CMAKE_CURRENT_SOURCE_DIR}")
    else()
        set(base "${CMAKE_CURRENT_SOURCE_DIR}/${dir}")
    endif()
    file(GLOB children LIST_DIRECTORIES true "${base}/*")
    list(SORT children)
    foreach(child IN LISTS children)
        file(RELATIVE_PATH from_top "${PROJECT_SOURCE_DIR}" "${child}")
        if(WIN32 AND from_top IN_LIST KESTRUN_WINDOWS_SKIPPED_DIRS)
            continue()
        endif()
        if(IS_DIRECTORY "${child}" AND EXISTS "${child}/CMakeLists.txt")
            file(RELATIVE_PATH rel "${CMAKE_CURRENT_SOURCE_DIR}" "${child}")
            add_subdirectory("${child}" "${CMAKE_CURRENT_BINARY_DIR}/${rel}")
        endif()
    endforeach()
endfunction()

# kestrun_family(NAME SOURCES ... [LIBS ...] [INCLUDES ...]): a static library whose every object
# goes into libkestrun.so (whole archive, so that the exports it defines are kept). Unit tests link
# the same target to reach the plain functions behind the exports.
function(kestrun_family name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
    kestrun_platform_sources(sources ${ARG_SOURCES})
    add_library(kestrun_${name} STATIC ${sources})
    target_link_libraries(kestrun_${name} PUBLIC kestrun_interop ${ARG_LIBS})
    if(ARG_INCLUDES)
        target_include_directories(kestrun_${name} SYSTEM PUBLIC ${ARG_INCLUDES})
    endif()
    set_property(GLOBAL APPEND PROPERTY KESTRUN_FAMILIES kestrun_${name})
endfunction()

# kestrun_test(NAME SOURCES... LIBS ... [LABELS ...]): a GoogleTest executable registered with
# CTest.
# In a ThreadSanitizer build only the tests labelled "tsan" exist; the target tsan_tests builds them.
function(kestrun_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT KESTRUN_TESTS OR (KESTRUN_TSAN AND NOT "tsan" IN_LIST ARG_LABELS))
        return()
    endif()
    if(WIN32 AND name IN_LIST KESTRUN_WINDOWS_SKIPPED_TESTS)
        return()
    endif()
    if("tsan" IN_LIST ARG_LABELS)
        set_property(GLOBAL APPEND PROPERTY KESTRUN_TSAN_TESTS ${name})
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    if(WIN32)
        # Cross-built: one CTest entry per program, run under Wine (tests/windows).
        kestrun_windows_test(${name} "${ARG_LABELS}")
        return()
    endif()
    if("desktop" IN_LIST ARG_LABELS)
        # Tests that drive a desktop share the input focus and the clipboard: one at a time.
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                             PROPERTIES LABELS "${ARG_LABELS}" RUN_SERIAL TRUE)
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()

# kestrun_windows_test(NAME LABELS): runs the cross-built test program NAME under Wine, in the
# prefix that the test windows_wine_prefix makes, with the Chinese ANSI code page.
function(kestrun_windows_test name labels)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
        return()
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        LABELS "windows;${labels}"
        FIXTURES_REQUIRED wine
        TIMEOUT 600
        ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LANG=zh_CN.UTF-8;LC_ALL=zh_CN.UTF-8")
endfunction()
