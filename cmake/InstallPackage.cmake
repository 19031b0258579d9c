# What consumers build against, installed beside the producer: a CMake package
# (find_package(GEVTLKRV)) and a pkg-config file (gevtlkrv), both relocatable.
include(CMakePackageConfigHelpers)

set(GEVTLKRV_INSTALL_CTIDIR lib/GEVTLKRV)
set(GEVTLKRV_INSTALL_CTI ${GEVTLKRV_INSTALL_CTIDIR}/GEVTLKRV.cti)
set(GEVTLKRV_INSTALL_INCLUDEDIR include/GEVTLKRV)
set(GEVTLKRV_INSTALL_CMAKEDIR lib/cmake/GEVTLKRV)

install(TARGETS GEVTLKRV LIBRARY DESTINATION ${GEVTLKRV_INSTALL_CTIDIR})
install(FILES GEV/GenTLProducerSource/GenTL.h GEV/GenTLProducerSource/GEVTLKRVInfo.h
        DESTINATION ${GEVTLKRV_INSTALL_INCLUDEDIR})

configure_package_config_file(cmake/GEVTLKRVConfig.cmake.in
    ${GENERATED_DIR}/GEVTLKRVConfig.cmake
    INSTALL_DESTINATION ${GEVTLKRV_INSTALL_CMAKEDIR}
    PATH_VARS GEVTLKRV_INSTALL_INCLUDEDIR GEVTLKRV_INSTALL_CTI)
write_basic_package_version_file(${GENERATED_DIR}/GEVTLKRVConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${GENERATED_DIR}/GEVTLKRVConfig.cmake ${GENERATED_DIR}/GEVTLKRVConfigVersion.cmake
        DESTINATION ${GEVTLKRV_INSTALL_CMAKEDIR})

configure_file(cmake/gevtlkrv.pc.in ${GENERATED_DIR}/gevtlkrv.pc @ONLY)
install(FILES ${GENERATED_DIR}/gevtlkrv.pc DESTINATION lib/pkgconfig)
