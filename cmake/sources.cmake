# Source files of the platform stand-in and of the library, listed one by
# one: a new file is added here. Used by the top-level build and by the fuzz
# build. Expects VEK_SOURCE_ROOT (the repository's top directory).
set(VEK_PLATFORM_SOURCES
    ${VEK_SOURCE_ROOT}/platform/log.cpp
    ${VEK_SOURCE_ROOT}/platform/mem.cpp
    ${VEK_SOURCE_ROOT}/platform/net.cpp
    ${VEK_SOURCE_ROOT}/platform/strings.cpp
    ${VEK_SOURCE_ROOT}/platform/xml.cpp)

set(VEK_EVENT_SOURCES
    ${VEK_SOURCE_ROOT}/soap/addressing_header.cpp
    ${VEK_SOURCE_ROOT}/soap/context_settings.cpp
    ${VEK_SOURCE_ROOT}/soap/event_context.cpp
    ${VEK_SOURCE_ROOT}/soap/exchange.cpp
    ${VEK_SOURCE_ROOT}/soap/record_layout.cpp
    ${VEK_SOURCE_ROOT}/soap/reference_header.cpp
    ${VEK_SOURCE_ROOT}/soap/request_headers.cpp
    ${VEK_SOURCE_ROOT}/soap/response_capture.cpp
    ${VEK_SOURCE_ROOT}/soap/sha1.cpp
    ${VEK_SOURCE_ROOT}/soap/version.cpp
    ${VEK_SOURCE_ROOT}/soap/vek_wsseapi_event.cpp
    ${VEK_SOURCE_ROOT}/alarm/alarm_text.cpp
    ${VEK_SOURCE_ROOT}/alarm/holder_content.cpp
    ${VEK_SOURCE_ROOT}/alarm/match_alarm_type.cpp
    ${VEK_SOURCE_ROOT}/alarm/parse_alarm_msg.cpp
    ${VEK_SOURCE_ROOT}/alarm/simple_item_compare.cpp
    ${VEK_SOURCE_ROOT}/alarm/topic_rules.cpp
    ${VEK_SOURCE_ROOT}/alarm/trans_alarm_type.cpp
    ${VEK_SOURCE_ROOT}/alarm/xml_document.cpp
    ${VEK_SOURCE_ROOT}/subscription/listener_defences.cpp
    ${VEK_SOURCE_ROOT}/subscription/pull_point.cpp
    ${VEK_SOURCE_ROOT}/subscription/recv_notify.cpp
    ${VEK_SOURCE_ROOT}/subscription/reference_compact.cpp
    ${VEK_SOURCE_ROOT}/subscription/reference_namespaces.cpp
    ${VEK_SOURCE_ROOT}/subscription/renew_unsubscribe.cpp
    ${VEK_SOURCE_ROOT}/subscription/subscribe.cpp
    ${VEK_SOURCE_ROOT}/subscription/subscribe_response.cpp
    ${VEK_SOURCE_ROOT}/discovery/alarm_count.cpp
    ${VEK_SOURCE_ROOT}/discovery/get_event_properties.cpp
    ${VEK_SOURCE_ROOT}/discovery/message_description.cpp
    ${VEK_SOURCE_ROOT}/discovery/prope_alarm_store.cpp
    ${VEK_SOURCE_ROOT}/discovery/simple_item_description.cpp
    ${VEK_SOURCE_ROOT}/discovery/smart_report_caps.cpp
    ${VEK_SOURCE_ROOT}/discovery/topic_set_text.cpp
    ${VEK_SOURCE_ROOT}/discovery/topic_set_walk.cpp)
