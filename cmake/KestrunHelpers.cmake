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
    add_library(kestrun_${name} STATIC ${ARG_SOURCES})
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
    if(KESTRUN_TSAN AND NOT "tsan" IN_LIST ARG_LABELS)
        return()
    endif()
    if("tsan" IN_LIST ARG_LABELS)
        set_property(GLOBAL APPEND PROPERTY KESTRUN_TSAN_TESTS ${name})
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    if("desktop" IN_LIST ARG_LABELS)
        # Tests that drive a desktop share the input focus and the clipboard: one at a time.
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                             PROPERTIES LABELS "${ARG_LABELS}" RUN_SERIAL TRUE)
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
