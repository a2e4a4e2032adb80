# The library's version lives in the VERSION file at the repository's top
# (MAJOR.MINOR.PATCH). vek_read_version(<root> <var>) reads it into <var>;
# vek_configure_version_header(<root> <dir>) writes
# <dir>/vek_onvif_event_version.h, which defines VEK_ONVIF_EVENT_VERSION.
function(vek_read_version root var)
    file(STRINGS ${root}/VERSION version LIMIT_COUNT 1)
    string(STRIP "${version}" version)
    if(NOT version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
        message(FATAL_ERROR "${root}/VERSION: expected MAJOR.MINOR.PATCH, found '${version}'")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${root}/VERSION)
    set(${var} ${version} PARENT_SCOPE)
endfunction()

function(vek_configure_version_header root dir)
    vek_read_version(${root} VEK_ONVIF_EVENT_VERSION)
    string(REPLACE "." ";" parts ${VEK_ONVIF_EVENT_VERSION})
    list(GET parts 0 VEK_ONVIF_EVENT_VERSION_MAJOR)
    list(GET parts 1 VEK_ONVIF_EVENT_VERSION_MINOR)
    list(GET parts 2 VEK_ONVIF_EVENT_VERSION_PATCH)
    configure_file(${root}/include/vek_onvif_event_version.h.in
                   ${dir}/vek_onvif_event_version.h @ONLY)
endfunction()
