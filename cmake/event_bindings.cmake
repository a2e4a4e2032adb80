# Generates the event-service bindings with soapcpp2 into the build tree and
# sets VEK_GEN_DIR and VEK_GEN_SOURCES. Expects SOAPCPP2 and
# VEK_BINDINGS_ROOT (the repository's top directory).
set(VEK_GEN_DIR ${PROJECT_BINARY_DIR}/generated)
set(VEK_GEN_SOURCES ${VEK_GEN_DIR}/soapC.cpp ${VEK_GEN_DIR}/soapClient.cpp)
add_custom_command(
    OUTPUT ${VEK_GEN_SOURCES} ${VEK_GEN_DIR}/soapH.h ${VEK_GEN_DIR}/soapStub.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VEK_GEN_DIR}
    COMMAND ${SOAPCPP2} -2 -C -L -x -w -d ${VEK_GEN_DIR}
            ${VEK_BINDINGS_ROOT}/soap/onvif_event_bindings.h > soapcpp2.log 2>&1
    DEPENDS ${VEK_BINDINGS_ROOT}/soap/onvif_event_bindings.h
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    COMMENT "Generating event-service bindings with soapcpp2")
# Generated code is not ours to fix: no warnings. Hidden like the runtime:
# the runtime's callbacks (soap_getheader, soap_putfault, ...) bind to these
# inside the library, never to a recorder's own.
set_source_files_properties(${VEK_GEN_SOURCES} PROPERTIES COMPILE_OPTIONS "-w;-fvisibility=hidden")
