# Debian packages with cpack -G DEB (run in the build directory):
#   libvek-onvif-event1     component runtime (the shared library)
#   libvek-onvif-event-dev  component devel (link, headers, pkg-config, CMake package)
# The platform stand-in is not packaged: a recorder brings its own platform.
# The architecture follows the target (armhf from the cross build). The
# Mini-XML and OpenSSL (libssl3) runtime packages are those that own the
# libraries this build links (dpkg -S), so they follow the architecture and
# version found; the gSOAP runtime is compiled in, so no gSOAP package is
# needed. The runtime package carries a shlibs file and, as Debian's own
# libraries do, an ldconfig trigger.
set(VEK_DEB_RELEASE 1)

function(vek_owning_package file out_name out_version)
    get_filename_component(real ${file} REALPATH)
    execute_process(COMMAND dpkg -S ${real} OUTPUT_VARIABLE owner RESULT_VARIABLE status
                    ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "No Debian package owns ${real}")
    endif()
    # "libmxml1:armhf: /usr/lib/arm-linux-gnueabihf/libmxml.so.1.6"
    string(REGEX REPLACE "^([^:]+)(:[^:]+)?: .*$" "\\1" name "${owner}")
    string(REGEX REPLACE "^([^:]+:[^:]+|[^:]+): .*$" "\\1" qualified "${owner}")
    execute_process(COMMAND dpkg-query -W -f=\${Version} ${qualified} OUTPUT_VARIABLE version
                    RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-query cannot tell the version of ${qualified}")
    endif()
    # Upstream part only: 3.3.1-1+deb12u1 -> 3.3.1 (an epoch stays).
    string(REGEX REPLACE "-[^-]*$" "" version "${version}")
    set(${out_name} ${name} PARENT_SCOPE)
    set(${out_version} ${version} PARENT_SCOPE)
endfunction()

find_program(VEK_DPKG dpkg)
if(NOT VEK_DPKG)
    return()
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
    set(VEK_DEB_ARCH amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|armv7.*)$")
    set(VEK_DEB_ARCH armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(VEK_DEB_ARCH arm64)
else()
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE VEK_DEB_ARCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

list(GET MXML_LINK_LIBRARIES 0 VEK_MXML_LIBRARY)
vek_owning_package(${VEK_MXML_LIBRARY} VEK_DEB_MXML VEK_DEB_MXML_VERSION)
# libcrypto and libssl come with libssl3. (The gSOAP runtime is compiled in.)
vek_owning_package(${OPENSSL_CRYPTO_LIBRARY} VEK_DEB_SSL VEK_DEB_SSL_VERSION)

set(CPACK_PACKAGE_NAME libvek-onvif-event)
set(CPACK_PACKAGE_VENDOR "vek")
set(CPACK_PACKAGE_CONTACT "vek developers <dev@vek.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VEK_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VEK_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(VEK_DEB_FULL_VERSION ${PROJECT_VERSION}-${VEK_DEB_RELEASE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvek-onvif-event${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), \
${VEK_DEB_MXML} (>= ${VEK_DEB_MXML_VERSION}), \
${VEK_DEB_SSL} (>= ${VEK_DEB_SSL_VERSION})")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${PROJECT_BINARY_DIR}/deb-runtime/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb-runtime/triggers)
# The first line of a description is the package's synopsis.
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "ONVIF event service client for a network video recorder
Receives alarms from IP cameras through the ONVIF event service: discovers a
camera's events, subscribes (push or pull point), renews and unsubscribes, and
turns notifications into alarm reports. Plain C interface. The recorder
provides the platform symbols the library calls (memory, logging, network
helpers).")

set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME libvek-onvif-event-dev)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVEL_PACKAGE_DEPENDS
    "libvek-onvif-event${PROJECT_VERSION_MAJOR} (= ${VEK_DEB_FULL_VERSION}), libmxml-dev, libssl-dev")
# Only vek_onvif_event_soap.h (the namespace table) needs a stdsoap2.h.
set(CPACK_DEBIAN_DEVEL_PACKAGE_SUGGESTS libgsoap-dev)
set(CPACK_COMPONENT_DEVEL_DESCRIPTION
    "ONVIF event service client for a network video recorder (development files)
Headers, pkg-config file (vek_onvif_event) and CMake package
(find_package(vek_onvif_event CONFIG)) of libvek-onvif-event.")

include(CPack)
