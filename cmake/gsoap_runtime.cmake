# The gSOAP runtime, compiled into the library from Debian's source package
# of the gSOAP whose soapcpp2 generates the bindings (scripts/
# fetch_gsoap_source.sh puts it into .deps/). Private to the library: built
# position-independent with hidden visibility, so the shared object neither
# exports nor takes a runtime symbol from the process, and a recorder's own
# gSOAP code lives beside it untouched.
#
# VEK_GSOAP_SOURCE names the source: an unpacked folder (holding
# gsoap/stdsoap2.cpp), a Debian source description (.dsc, unpacked here
# with dpkg-source so Debian's patches apply) or a tarball of an unpacked
# folder. Sets:
#   vek_gsoap           INTERFACE target: the runtime's header and the
#                       options every file that includes it must share (they
#                       change the layout of struct soap)
#   vek_gsoap_runtime   OBJECT library: the runtime itself
#   VEK_GSOAP_VERSION   e.g. 2.8.124
# Expects VEK_SOURCE_ROOT and OpenSSL (SSL and Crypto).
set(VEK_GSOAP_SOURCE "${VEK_SOURCE_ROOT}/.deps/gsoap-2.8.124" CACHE PATH
    "gSOAP runtime source: unpacked folder, Debian .dsc or tarball (scripts/fetch_gsoap_source.sh)")

function(vek_gsoap_locate out)
    set(src "${VEK_GSOAP_SOURCE}")
    if(NOT EXISTS "${src}")
        message(FATAL_ERROR "gSOAP runtime source not found at ${src}: run "
                            "scripts/fetch_gsoap_source.sh, or set VEK_GSOAP_SOURCE")
    endif()
    if(IS_DIRECTORY "${src}")
        set(tree "${src}")
    else()
        set(tree "${PROJECT_BINARY_DIR}/gsoap-source")
        if(NOT EXISTS "${tree}/.unpacked" OR "${src}" IS_NEWER_THAN "${tree}/.unpacked")
            file(REMOVE_RECURSE "${tree}")
            if(src MATCHES "\\.dsc$")
                find_program(VEK_DPKG_SOURCE dpkg-source REQUIRED)
                execute_process(COMMAND ${VEK_DPKG_SOURCE} -x "${src}" "${tree}"
                                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
                if(NOT rc EQUAL 0)
                    message(FATAL_ERROR "dpkg-source -x ${src} failed")
                endif()
            else()
                file(ARCHIVE_EXTRACT INPUT "${src}" DESTINATION "${tree}")
            endif()
            file(TOUCH "${tree}/.unpacked")
        endif()
    endif()
    # The runtime sits in gsoap/ of the package, one folder down in a tarball.
    file(GLOB candidates "${tree}/gsoap/stdsoap2.cpp" "${tree}/*/gsoap/stdsoap2.cpp")
    list(LENGTH candidates count)
    if(count EQUAL 0)
        message(FATAL_ERROR "no gsoap/stdsoap2.cpp in ${src}")
    endif()
    list(GET candidates 0 first)
    get_filename_component(dir "${first}" DIRECTORY)
    set(${out} "${dir}" PARENT_SCOPE)
endfunction()

vek_gsoap_locate(VEK_GSOAP_RUNTIME_DIR)

# The runtime must be the one soapcpp2 generates for: the same version.
file(STRINGS "${VEK_GSOAP_RUNTIME_DIR}/stdsoap2.h" version_line
     REGEX "^#define GSOAP_VERSION [0-9]+")
string(REGEX REPLACE ".* ([0-9]+)$" "\\1" version_number "${version_line}")
math(EXPR major "${version_number} / 100000")
math(EXPR minor "(${version_number} / 1000) % 100")
math(EXPR patch "${version_number} % 1000")
set(VEK_GSOAP_VERSION "${major}.${minor}.${patch}")
execute_process(COMMAND ${SOAPCPP2} -V OUTPUT_VARIABLE soapcpp2_banner ERROR_VARIABLE soapcpp2_banner)
if(NOT soapcpp2_banner MATCHES "${VEK_GSOAP_VERSION}")
    message(FATAL_ERROR "gSOAP runtime source is ${VEK_GSOAP_VERSION}, soapcpp2 is another version")
endif()
message(STATUS "gSOAP runtime ${VEK_GSOAP_VERSION} from ${VEK_GSOAP_RUNTIME_DIR}")

add_library(vek_gsoap INTERFACE)
# BEFORE: the runtime's header wins over an installed stdsoap2.h.
target_include_directories(vek_gsoap BEFORE INTERFACE ${VEK_GSOAP_RUNTIME_DIR})
# TLS through OpenSSL. Smaller hash tables than the runtime's defaults:
# every Notify the listener takes sets up a whole context, and the default
# tables (for thousands of multi-referenced pointers and ids, which the
# event messages never have) made it 160 KiB to clear; these make it 82 KiB.
# Only the size of the tables changes, never a byte on the wire. (The
# 64 KiB socket buffer stays: with a smaller one a megabyte message missed
# the listener's one-second bound.)
target_compile_definitions(vek_gsoap INTERFACE WITH_OPENSSL SOAP_PTRHASH=32 SOAP_IDHASH=19)
target_link_libraries(vek_gsoap INTERFACE OpenSSL::SSL OpenSSL::Crypto)

add_library(vek_gsoap_runtime OBJECT ${VEK_GSOAP_RUNTIME_DIR}/stdsoap2.cpp)
set_target_properties(vek_gsoap_runtime PROPERTIES POSITION_INDEPENDENT_CODE ON)
# Not our code to fix: no warnings. Hidden, and each function in a section
# of its own so the link drops what the library never calls.
target_compile_options(vek_gsoap_runtime PRIVATE -w -fvisibility=hidden
                       -ffunction-sections -fdata-sections)
target_link_libraries(vek_gsoap_runtime PUBLIC vek_gsoap)
# A recorder's flash is small: the runtime (about a third of the library) may
# be optimized for size, with the library's cold paths (CMakeLists.txt); the
# armhf build does so. (The generated bindings grow under -Os and stay.)
option(VEK_OPTIMIZE_FOR_SIZE "Compile the gSOAP runtime and the cold paths with -Os" OFF)
if(VEK_OPTIMIZE_FOR_SIZE)
    target_compile_options(vek_gsoap_runtime PRIVATE -Os)
endif()
