# Installation: `cmake --install build --prefix P` lays out the libraries, headers, tools, helper
# programs, pkg-config files and the CMake package the way Debian lays out a C library; CPack
# turns the same rules into three Debian packages (runtime, -dev, tools).
#
# Components: runtime (the versioned shared objects and the helper programs the library starts),
# dev (headers, unversioned links, pkg-config and CMake files), tools (the command-line hosts).

include(CMakePackageConfigHelpers)

set(KESTRUN_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrun)
set(KESTRUN_HELPER_DIR ${CMAKE_INSTALL_LIBDIR}/kestrun)

# Installed programs find the installed libraries relative to themselves, so any prefix works.
file(RELATIVE_PATH bin_to_lib "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
file(RELATIVE_PATH helper_to_lib "/${KESTRUN_HELPER_DIR}" "/${CMAKE_INSTALL_LIBDIR}")

set_target_properties(oleaut kestrun quarn_bridge_safe_eval PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(oleaut PROPERTIES EXPORT_NAME oleaut)
set_target_properties(kestrun PROPERTIES EXPORT_NAME kestrun INSTALL_RPATH "$ORIGIN")
set_target_properties(quarn_bridge_safe_eval PROPERTIES EXPORT_NAME safe_eval)

install(TARGETS oleaut kestrun quarn_bridge_safe_eval
    EXPORT KestrunTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/kestrun.h ${PROJECT_SOURCE_DIR}/platform/include/oleauto.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrun COMPONENT dev)

set_target_properties(kestrun_cli safe-eval PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
install(TARGETS kestrun_cli safe-eval RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# Their manual pages (tools/docgen), compressed.
install(FILES ${PROJECT_BINARY_DIR}/man/kestrun.1.gz ${PROJECT_BINARY_DIR}/man/safe-eval.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# Programs the library starts itself; it looks for them in kestrun/ beside libkestrun.so.
foreach(helper kestrun_dialog_helper kestrun_clipboard_helper)
    if(TARGET ${helper})
        set_target_properties(${helper} PROPERTIES INSTALL_RPATH "$ORIGIN/${helper_to_lib}")
        install(TARGETS ${helper} RUNTIME DESTINATION ${KESTRUN_HELPER_DIR} COMPONENT runtime)
    endif()
endforeach()

# pkg-config: the files find their prefix from their own place, so a tree installed with
# --prefix anywhere (or unpacked from a package) needs no editing.
file(RELATIVE_PATH pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
foreach(pc kestrun oleaut quarn_bridge_safe_eval)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${pc}.pc.in
                   ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# The CMake package: find_package(Kestrun) gives Kestrun::kestrun, Kestrun::oleaut and
# Kestrun::safe_eval.
install(EXPORT KestrunTargets NAMESPACE Kestrun:: DESTINATION ${KESTRUN_PACKAGE_DIR}
    COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KestrunConfig.cmake.in
    ${PROJECT_BINARY_DIR}/KestrunConfig.cmake INSTALL_DESTINATION ${KESTRUN_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrunConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrunConfig.cmake
              ${PROJECT_BINARY_DIR}/KestrunConfigVersion.cmake
    DESTINATION ${KESTRUN_PACKAGE_DIR} COMPONENT dev)

# Debian packages: `cpack --config build/CPackConfig.cmake` writes one .deb per component, each
# with its machine-readable copyright file and changelog; binaries are stripped (a build with
# debug information also gets -dbgsym packages), the runtime package gets a shlibs file and the
# ldconfig trigger. dpkg-shlibdeps works out the runtime dependencies from the shared objects.
# KESTRUN_PACKAGE_MAINTAINER (the Maintainer field) is set in the top-level CMakeLists.txt.

# The copyright file: the project's license, in Debian's machine-readable format.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(REGEX REPLACE "\n+$" "" license_text "${license_text}")
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " license_text " ${license_text}")
string(REGEX REPLACE "\n \n" "\n .\n" KESTRUN_LICENSE_TEXT "${license_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright
               @ONLY)
# The changelog, whose newest entry must be this version.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^kestrun \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${PROJECT_SOURCE_DIR}/LICENSE)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
    OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(pair runtime:libkestrun${PROJECT_VERSION_MAJOR} dev:libkestrun-dev tools:kestrun-tools)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrun)
set(CPACK_PACKAGE_VENDOR "The Kestrun developers")
set(CPACK_PACKAGE_CONTACT "${KESTRUN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRUN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GBK text, crypto, image, data and automation functions")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Debug)$")
    set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools and helpers link libraries of the runtime package being built beside them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/platform ${PROJECT_BINARY_DIR}/kestrun ${PROJECT_BINARY_DIR}/safe_eval)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkestrun${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_MULTIARCH same)
# dpkg runs ldconfig once after all packages are unpacked (CPack's own postinst and postrm also
# call it; lintian warns about those, see the README).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkestrun-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kestrun-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Kestrun shared libraries\nlibkestrun, its OLE Automation stand-in liboleaut and the safe evaluator.")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Kestrun development files\nHeaders, pkg-config files and the CMake package.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "Kestrun command-line hosts\nkestrun calls any export by name; safe-eval runs evaluator programs.")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
include(CPack)
