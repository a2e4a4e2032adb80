// Hand-written serializers of the header field that carries a
// subscription's reference parameters back to the camera. Each extension
// element goes out as a header block of its own, a direct child of the SOAP
// Header, exactly as stored; no wrapping element is written.
#include "soapH.h"

SOAP_FMAC3 void SOAP_FMAC4 soap_default_wsa__ReferenceParametersHeader(
    struct soap *soap, struct wsa5__EndpointReferenceType *a)
{
    soap_default_wsa5__EndpointReferenceType(soap, a);
}

SOAP_FMAC3 void SOAP_FMAC4 soap_serialize_wsa__ReferenceParametersHeader(
    struct soap *soap, const struct wsa5__EndpointReferenceType *a)
{
    soap_serialize_wsa5__EndpointReferenceType(soap, a);
}

SOAP_FMAC3 int SOAP_FMAC4 soap_out_wsa__ReferenceParametersHeader(
    struct soap *soap, const char * /*tag*/, int /*id*/,
    const struct wsa5__EndpointReferenceType *a, const char * /*type*/)
{
    for (int i = 0; i < a->__size; ++i) {
        if (a->__any[i] != nullptr &&
            soap_outliteral(soap, "-any", &a->__any[i], nullptr) != SOAP_OK) {
            return soap->error;
        }
    }
    return SOAP_OK;
}

// Such a field never arrives from a camera; should one come, it is skipped.
SOAP_FMAC3 struct wsa5__EndpointReferenceType *SOAP_FMAC4 soap_in_wsa__ReferenceParametersHeader(
    struct soap *soap, const char *tag, struct wsa5__EndpointReferenceType *a, const char *type)
{
    return soap_in_wsa5__EndpointReferenceType(soap, tag, a, type);
}
