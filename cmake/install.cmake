# Installation, as a system library:
#   component runtime: libvek_onvif_event.so.MAJOR.MINOR.PATCH and its SONAME
#                      link libvek_onvif_event.so.MAJOR;
#   component devel:   the libvek_onvif_event.so link, the public headers in
#                      include/vek_onvif_event/, vek_onvif_event.pc and the
#                      CMake package (find_package(vek_onvif_event CONFIG),
#                      target vek_onvif_event::vek_onvif_event);
#   component platform (only when asked for, --component platform): the
#                      platform stand-in libvek_platform.so.MAJOR, its control
#                      header, and target vek_onvif_event::vek_platform.
include(CMakePackageConfigHelpers)

set(VEK_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vek_onvif_event)
set(VEK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vek_onvif_event)

install(TARGETS vek_onvif_event EXPORT vek_onvif_event_targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT devel)
install(FILES ${PROJECT_SOURCE_DIR}/include/vek_onvif_event.h
              ${PROJECT_SOURCE_DIR}/include/vek_onvif_event_soap.h
              ${VEK_GEN_INCLUDE_DIR}/vek_onvif_event_version.h
              ${PROJECT_SOURCE_DIR}/platform/include/vek_platform.h
        DESTINATION ${VEK_INSTALL_INCLUDEDIR} COMPONENT devel)
install(EXPORT vek_onvif_event_targets NAMESPACE vek_onvif_event::
        FILE vek_onvif_event-targets.cmake DESTINATION ${VEK_INSTALL_CMAKEDIR}
        COMPONENT devel)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vek_onvif_event-config.cmake.in
                              ${PROJECT_BINARY_DIR}/vek_onvif_event-config.cmake
                              INSTALL_DESTINATION ${VEK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vek_onvif_event-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vek_onvif_event-config.cmake
              ${PROJECT_BINARY_DIR}/vek_onvif_event-config-version.cmake
        DESTINATION ${VEK_INSTALL_CMAKEDIR} COMPONENT devel)

# pkg-config: relocatable, the prefix is found from the file's own place
# (cmake --install --prefix may choose another prefix than the configured one).
file(RELATIVE_PATH VEK_PC_PREFIX_FROM_PCFILEDIR /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vek_onvif_event.pc.in
               ${PROJECT_BINARY_DIR}/vek_onvif_event.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vek_onvif_event.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT devel)

# The copyright of each package: the library's own and that of the gSOAP
# runtime compiled into it (Debian's place, share/doc/<package>/copyright).
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvek-onvif-event${PROJECT_VERSION_MAJOR}
        COMPONENT runtime)
install(FILES ${PROJECT_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvek-onvif-event-dev COMPONENT devel)

# The stand-in: never part of a plain install.
install(TARGETS vek_platform EXPORT vek_platform_targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT platform
                NAMELINK_COMPONENT platform
        EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/platform/include/vek_platform_ctl.h
        DESTINATION ${VEK_INSTALL_INCLUDEDIR} COMPONENT platform EXCLUDE_FROM_ALL)
install(EXPORT vek_platform_targets NAMESPACE vek_onvif_event::
        FILE vek_platform-targets.cmake DESTINATION ${VEK_INSTALL_CMAKEDIR}
        COMPONENT platform EXCLUDE_FROM_ALL)
