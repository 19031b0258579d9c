# The Debian package, made by `cpack -G DEB` in the build folder: everything
# `cmake --install` puts under the prefix /usr (the producer in
# /usr/lib/GEVTLKRV, headers, CMake and pkg-config files, gevtl), and two system
# files that only the package installs: /etc/profile.d/gevtlkrv.sh (adds the
# producer's folder to GENICAM_GENTL64_PATH) and /etc/sysctl.d/60-gige-vision.conf
# (raises net.core.rmem_max).
set(GEVTLKRV_PACKAGE_PREFIX /usr)
set(GEVTLKRV_PACKAGE_CTI_DIR ${GEVTLKRV_PACKAGE_PREFIX}/${GEVTLKRV_INSTALL_CTIDIR})

# The system files are a component outside a plain install, so that
# `cmake --install build --prefix P` writes nothing to /etc.
configure_file(packaging/gevtlkrv.sh.in ${GENERATED_DIR}/gevtlkrv.sh @ONLY)
install(FILES ${GENERATED_DIR}/gevtlkrv.sh DESTINATION /etc/profile.d
        COMPONENT system EXCLUDE_FROM_ALL)
install(FILES packaging/60-gige-vision.conf DESTINATION /etc/sysctl.d
        COMPONENT system EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gevtlkrv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarvane GmbH")
set(CPACK_PACKAGE_CONTACT "Tarvane GmbH")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GenICam GenTL producer for GigE Vision cameras")
set(CPACK_PACKAGE_DESCRIPTION "GEVTLKRV.cti, a GenTL producer that GenTL consumers load to \
discover GigE Vision cameras, configure them and receive their images; its C headers, CMake \
and pkg-config files, and gevtl, a command-line GenTL consumer.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${GEVTLKRV_PACKAGE_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debug information stays in the build.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Depends from the shared libraries gevtl and the producer link.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libc6, libstdc++6, libgcc-s1, libaravis-0.8-0, libglib2.0-0, libzip4, libpng16-16")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Both components in the one package.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};system;/")
include(CPack)
