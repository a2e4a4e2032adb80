// gSOAP interface declarations of the ONVIF event service and
// WS-BaseNotification operations this library uses. soapcpp2 reads this file
// at build time (-2 -C -L -x -w); nothing it generates is kept in the tree.
//
// Prefixes match the runtime namespace table eventNamespaces; the table and
// the generated stubs must agree.
// Response members are optional throughout: cameras omit what they please,
// and a missing field must not fail the whole exchange.


//gsoap wsu  schema namespace: http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd
//gsoap wsu  schema elementForm: qualified
//gsoap wsu  schema attributeForm: qualified
//gsoap wsse schema namespace: http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd
//gsoap wsse schema elementForm: qualified
//gsoap wsse schema attributeForm: unqualified
//gsoap wsa  schema namespace: http://schemas.xmlsoap.org/ws/2004/08/addressing
//gsoap wsa  schema elementForm: qualified
//gsoap wsa5 schema namespace: http://www.w3.org/2005/08/addressing
//gsoap wsa5 schema elementForm: qualified
//gsoap wsa5 schema attributeForm: unqualified
//gsoap ns7  schema namespace: http://docs.oasis-open.org/wsn/b-2
//gsoap ns7  schema elementForm: qualified
//gsoap ns7  schema attributeForm: unqualified
//gsoap ns8  schema namespace: http://docs.oasis-open.org/wsn/t-1
//gsoap ns8  schema elementForm: qualified
//gsoap ns8  schema attributeForm: unqualified
//gsoap ns1  schema namespace: http://www.onvif.org/ver10/events/wsdl
//gsoap ns1  schema elementForm: qualified
//gsoap ns1  schema attributeForm: unqualified


typedef char *xsd__anyURI;
typedef char *xsd__string;
typedef char *xsd__duration;
typedef char *xsd__dateTime;

// ---- WS-Addressing 1.0 ----------------------------------------------------

typedef char *wsa5__AttributedURIType;

struct wsa5__ReferenceParametersType {
    $int __size;
    _XML *__any;
    @_XML __anyAttribute;
};

struct wsa5__MetadataType {
    $int __size;
    _XML *__any;
    @_XML __anyAttribute;
};

struct wsa5__EndpointReferenceType {
    wsa5__AttributedURIType Address 0;
    struct wsa5__ReferenceParametersType *ReferenceParameters 0;
    struct wsa5__MetadataType *Metadata 0;
    $int __size;
    _XML *__any;
    @_XML __anyAttribute;
};

struct wsa5__RelatesToType {
    char *__item;
    @char *RelationshipType 0;
    @_XML __anyAttribute;
};

typedef wsa5__AttributedURIType _wsa5__MessageID;
typedef wsa5__AttributedURIType _wsa5__To;
typedef wsa5__AttributedURIType _wsa5__Action;
typedef struct wsa5__RelatesToType _wsa5__RelatesTo;
typedef struct wsa5__EndpointReferenceType _wsa5__From;
typedef struct wsa5__EndpointReferenceType _wsa5__ReplyTo;
typedef struct wsa5__EndpointReferenceType _wsa5__FaultTo;

// A subscription's reference parameters, sent back in the header of Renew
// and Unsubscribe: an endpoint reference whose extension elements are
// written as header blocks of their own, without a wrapping element. The
// serializer is hand-written (reference_header.cpp).
extern typedef struct wsa5__EndpointReferenceType wsa__ReferenceParametersHeader;

// ---- WS-Security UsernameToken --------------------------------------------

struct _wsse__Password {
    char *__item;
    @char *Type 0;
};

struct _wsse__UsernameToken {
    char *Username 0;
    struct _wsse__Password *Password 0;
    char *Nonce 0;
    char *wsu__Created 0;
    @char *wsu__Id 0;
};

struct _wsse__Security {
    struct _wsse__UsernameToken *UsernameToken 0;
    @char *SOAP_ENV__actor 0;
    @char *SOAP_ENV__role 0;
};

// ---- SOAP header ------------------------------------------------------------

struct SOAP_ENV__Header {
    mustUnderstand _wsa5__MessageID wsa5__MessageID 0;
    mustUnderstand _wsa5__RelatesTo *wsa5__RelatesTo 0;
    mustUnderstand _wsa5__From *wsa5__From 0;
    mustUnderstand _wsa5__ReplyTo *wsa5__ReplyTo 0;
    mustUnderstand _wsa5__FaultTo *wsa5__FaultTo 0;
    mustUnderstand _wsa5__To wsa5__To 0;
    mustUnderstand _wsa5__Action wsa5__Action 0;
    mustUnderstand struct _wsse__Security *wsse__Security 0;
    wsa__ReferenceParametersHeader *wsa__sub 0;
};

// ---- WS-Topics ------------------------------------------------------------

struct ns8__TopicSetType {
    $int __size;
    _XML *__any;
    @_XML __anyAttribute;
};

// ---- WS-BaseNotification --------------------------------------------------

struct ns7__TopicExpressionType {
    _XML __any;
    @xsd__anyURI Dialect 0;
    @_XML __anyAttribute;
    _XML __mixed;
};

struct ns7__QueryExpressionType {
    _XML __any;
    @xsd__anyURI Dialect 0;
    _XML __mixed;
};

struct ns7__FilterType {
    struct ns7__TopicExpressionType *TopicExpression 0;
    struct ns7__QueryExpressionType *MessageContent 0;
    $int __size;
    _XML *__any;
};

struct _ns7__NotificationMessageHolderType_Message {
    _XML __any;
};

// Text that is not whitespace between a holder's elements would make the
// runtime skip the whole holder; with a mixed member it keeps the content
// from that text on as literal XML instead, read back by the translation.
struct ns7__NotificationMessageHolderType {
    struct wsa5__EndpointReferenceType *SubscriptionReference 0;
    struct ns7__TopicExpressionType *Topic 0;
    struct wsa5__EndpointReferenceType *ProducerReference 0;
    struct _ns7__NotificationMessageHolderType_Message Message 0;
    _XML __mixed;
};

struct _ns7__Notify {
    $int __sizeNotificationMessage 0;
    struct ns7__NotificationMessageHolderType *NotificationMessage 0;
    $int __size;
    _XML *__any;
};

struct _ns7__Subscribe_SubscriptionPolicy {
    $int __size;
    _XML *__any;
};

struct _ns7__Subscribe {
    struct wsa5__EndpointReferenceType *ConsumerReference 1;
    struct ns7__FilterType *Filter 0;
    xsd__string InitialTerminationTime 0;
    struct _ns7__Subscribe_SubscriptionPolicy *SubscriptionPolicy 0;
    $int __size;
    _XML *__any;
};

struct _ns7__SubscribeResponse {
    struct wsa5__EndpointReferenceType *SubscriptionReference 0;
    xsd__dateTime CurrentTime 0;
    xsd__dateTime TerminationTime 0;
    $int __size;
    _XML *__any;
};

struct _ns7__Renew {
    xsd__string TerminationTime 1;
    $int __size;
    _XML *__any;
};

struct _ns7__RenewResponse {
    xsd__dateTime TerminationTime 0;
    xsd__dateTime CurrentTime 0;
    $int __size;
    _XML *__any;
};

struct _ns7__Unsubscribe {
    $int __size;
    _XML *__any;
};

struct _ns7__UnsubscribeResponse {
    $int __size;
    _XML *__any;
};

// ---- ONVIF event service ----------------------------------------------------

struct _ns1__GetEventProperties {
    $int __size;
    _XML *__any;
};

struct _ns1__GetEventPropertiesResponse {
    $int __sizeTopicNamespaceLocation 0;
    xsd__anyURI *TopicNamespaceLocation 0;
    xsd__string ns7__FixedTopicSet 0;
    struct ns8__TopicSetType *ns8__TopicSet 0;
    $int __sizeTopicExpressionDialect 0;
    xsd__anyURI *ns7__TopicExpressionDialect 0;
    $int __sizeMessageContentFilterDialect 0;
    xsd__anyURI *MessageContentFilterDialect 0;
    $int __sizeProducerPropertiesFilterDialect 0;
    xsd__anyURI *ProducerPropertiesFilterDialect 0;
    $int __sizeMessageContentSchemaLocation 0;
    xsd__anyURI *MessageContentSchemaLocation 0;
    $int __size;
    _XML *__any;
};

struct _ns1__CreatePullPointSubscription_SubscriptionPolicy {
    $int __size;
    _XML *__any;
};

struct _ns1__CreatePullPointSubscription {
    struct ns7__FilterType *Filter 0;
    xsd__string InitialTerminationTime 0;
    struct _ns1__CreatePullPointSubscription_SubscriptionPolicy *SubscriptionPolicy 0;
    $int __size;
    _XML *__any;
};

struct _ns1__CreatePullPointSubscriptionResponse {
    struct wsa5__EndpointReferenceType *SubscriptionReference 0;
    xsd__dateTime ns7__CurrentTime 0;
    xsd__dateTime ns7__TerminationTime 0;
    $int __size;
    _XML *__any;
};

struct _ns1__PullMessages {
    xsd__duration Timeout 1;
    int MessageLimit 1;
    $int __size;
    _XML *__any;
};

struct _ns1__PullMessagesResponse {
    xsd__dateTime CurrentTime 0;
    xsd__dateTime TerminationTime 0;
    $int __sizeNotificationMessage 0;
    struct ns7__NotificationMessageHolderType *ns7__NotificationMessage 0;
};

struct _ns1__SetSynchronizationPoint {
    $int __size;
    _XML *__any;
};

struct _ns1__SetSynchronizationPointResponse {
    $int __size;
    _XML *__any;
};

// ---- Bindings -------------------------------------------------------------

//gsoap ns11 service name: PullPointSubscriptionBinding
//gsoap ns11 service namespace: http://www.onvif.org/ver10/events/wsdl/PullPointSubscriptionBinding
//gsoap ns11 service method-protocol: PullMessages SOAP
//gsoap ns11 service method-style: PullMessages document
//gsoap ns11 service method-encoding: PullMessages literal
//gsoap ns11 service method-input-action: PullMessages http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest
//gsoap ns11 service method-output-action: PullMessages http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesResponse
int __ns11__PullMessages(struct _ns1__PullMessages *ns1__PullMessages,
                         struct _ns1__PullMessagesResponse *ns1__PullMessagesResponse);

//gsoap ns11 service method-protocol: SetSynchronizationPoint SOAP
//gsoap ns11 service method-style: SetSynchronizationPoint document
//gsoap ns11 service method-encoding: SetSynchronizationPoint literal
//gsoap ns11 service method-input-action: SetSynchronizationPoint http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/SetSynchronizationPointRequest
//gsoap ns11 service method-output-action: SetSynchronizationPoint http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/SetSynchronizationPointResponse
int __ns11__SetSynchronizationPoint(
    struct _ns1__SetSynchronizationPoint *ns1__SetSynchronizationPoint,
    struct _ns1__SetSynchronizationPointResponse *ns1__SetSynchronizationPointResponse);

//gsoap ns12 service name: EventBinding
//gsoap ns12 service namespace: http://www.onvif.org/ver10/events/wsdl/EventBinding
//gsoap ns12 service method-protocol: GetEventProperties SOAP
//gsoap ns12 service method-style: GetEventProperties document
//gsoap ns12 service method-encoding: GetEventProperties literal
//gsoap ns12 service method-input-action: GetEventProperties http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesRequest
//gsoap ns12 service method-output-action: GetEventProperties http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesResponse
int __ns12__GetEventProperties(struct _ns1__GetEventProperties *ns1__GetEventProperties,
                               struct _ns1__GetEventPropertiesResponse *ns1__GetEventPropertiesResponse);

//gsoap ns12 service method-protocol: CreatePullPointSubscription SOAP
//gsoap ns12 service method-style: CreatePullPointSubscription document
//gsoap ns12 service method-encoding: CreatePullPointSubscription literal
//gsoap ns12 service method-input-action: CreatePullPointSubscription http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest
//gsoap ns12 service method-output-action: CreatePullPointSubscription http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionResponse
int __ns12__CreatePullPointSubscription(
    struct _ns1__CreatePullPointSubscription *ns1__CreatePullPointSubscription,
    struct _ns1__CreatePullPointSubscriptionResponse *ns1__CreatePullPointSubscriptionResponse);

//gsoap ns13 service name: SubscriptionManagerBinding
//gsoap ns13 service namespace: http://www.onvif.org/ver10/events/wsdl/SubscriptionManagerBinding
//gsoap ns13 service method-protocol: Renew SOAP
//gsoap ns13 service method-style: Renew document
//gsoap ns13 service method-encoding: Renew literal
//gsoap ns13 service method-input-action: Renew http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest
//gsoap ns13 service method-output-action: Renew http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewResponse
int __ns13__Renew(struct _ns7__Renew *ns7__Renew, struct _ns7__RenewResponse *ns7__RenewResponse);

//gsoap ns13 service method-protocol: Unsubscribe SOAP
//gsoap ns13 service method-style: Unsubscribe document
//gsoap ns13 service method-encoding: Unsubscribe literal
//gsoap ns13 service method-input-action: Unsubscribe http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest
//gsoap ns13 service method-output-action: Unsubscribe http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeResponse
int __ns13__Unsubscribe(struct _ns7__Unsubscribe *ns7__Unsubscribe,
                        struct _ns7__UnsubscribeResponse *ns7__UnsubscribeResponse);

//gsoap ns14 service name: NotificationProducerBinding
//gsoap ns14 service namespace: http://www.onvif.org/ver10/events/wsdl/NotificationProducerBinding
//gsoap ns14 service method-protocol: Subscribe SOAP
//gsoap ns14 service method-style: Subscribe document
//gsoap ns14 service method-encoding: Subscribe literal
//gsoap ns14 service method-input-action: Subscribe http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest
//gsoap ns14 service method-output-action: Subscribe http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeResponse
int __ns14__Subscribe(struct _ns7__Subscribe *ns7__Subscribe,
                      struct _ns7__SubscribeResponse *ns7__SubscribeResponse);

//gsoap ns15 service name: NotificationConsumerBinding
//gsoap ns15 service namespace: http://www.onvif.org/ver10/events/wsdl/NotificationConsumerBinding
//gsoap ns15 service method-protocol: Notify SOAP
//gsoap ns15 service method-style: Notify document
//gsoap ns15 service method-encoding: Notify literal
//gsoap ns15 service method-action: Notify http://docs.oasis-open.org/wsn/bw-2/NotificationConsumer/Notify
int __ns15__Notify(struct _ns7__Notify *ns7__Notify, void);
