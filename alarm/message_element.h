// Loading a notification or topic-set text and finding its Message
// element, with the log lines of the operation that loads it.
#ifndef VEK_ALARM_MESSAGE_ELEMENT_H
#define VEK_ALARM_MESSAGE_ELEMENT_H

#include <mxml.h>

#include "xml_document.h"

namespace vek
{

// The lines an operation logs (error level, code VEK_ONVIF_ERR_FAIL) when
// the Message element cannot be had.
struct MessageLoadLog {
    const char *func;         // names the operation in every line
    const char *createFailed; // the document node could not be made
    const char *loadFailed;   // the text is not XML
    // No element named Message. Null: the miss is not logged.
    const char *notFound;
    // The element found does not carry the plain name Message. Null: the
    // name is not checked again.
    const char *misnamed;
};

// Loads text into doc and returns its first Message element (depth-first),
// owned by doc; null, logged as log says, when there is none.
mxml_node_t *loadMessageElement(XmlDocument &doc, const char *text, const MessageLoadLog &log);

} // namespace vek

#endif // VEK_ALARM_MESSAGE_ELEMENT_H
