#include "xml_document.h"

#include "vek_log.h"

namespace vek
{

namespace
{
// Mini-XML keeps its error callback per thread, so the operation that is
// loading on this thread is known when an error is reported.
thread_local const char *t_xmlCaller = nullptr;

void routeXmlError(const char *message)
{
    VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, t_xmlCaller != nullptr ? t_xmlCaller : "mxml",
            "XML parse error: %s", message != nullptr ? message : "");
}
} // namespace

XmlDocument::XmlDocument(const char *func) : previousCaller_(t_xmlCaller)
{
    t_xmlCaller = func;
    mxmlSetErrorCallback(routeXmlError);
    doc_ = mxmlNewXML("1.0");
}

XmlDocument::~XmlDocument()
{
    if (doc_ != nullptr) {
        mxmlRelease(doc_);
    }
    t_xmlCaller = previousCaller_;
}

bool XmlDocument::load(const char *text)
{
    return doc_ != nullptr && text != nullptr &&
           mxmlLoadString(doc_, text, MXML_NO_CALLBACK) != nullptr;
}

} // namespace vek
