// A Mini-XML document node owned for the length of one call: created with
// mxmlNewXML("1.0"), filled with mxmlLoadString and released with
// mxmlRelease on every way out. Parse errors that Mini-XML reports go to
// the library's log, under the name of the operation that loads the text,
// instead of the recorder's console.
#ifndef VEK_XML_DOCUMENT_H
#define VEK_XML_DOCUMENT_H

#include <mxml.h>

namespace vek
{

class XmlDocument
{
  public:
    // func names the operation in log lines about parse errors.
    explicit XmlDocument(const char *func);
    ~XmlDocument();
    XmlDocument(const XmlDocument &) = delete;
    XmlDocument &operator=(const XmlDocument &) = delete;

    // The document node, or null when it could not be created.
    mxml_node_t *node() const { return doc_; }
    // Loads text below the document node; false when it is not XML.
    bool load(const char *text);

  private:
    mxml_node_t *doc_ = nullptr;
    const char *previousCaller_ = nullptr;
};

} // namespace vek

#endif // VEK_XML_DOCUMENT_H
