#include "pull_point_reference.h"

#include <cstdint>
#include <vector>

#include "reference_compact.h"
#include "reference_namespaces.h"
#include "response_capture.h"
#include "soapH.h"
#include "vek_text.h"

namespace vek
{

std::string storedReferenceParameters(const wsa5__ReferenceParametersType *parameters,
                                      std::string_view rawAnswer, size_t maxChildren)
{
    std::string reference;
    if (parameters == nullptr || parameters->__any == nullptr) {
        return reference;
    }
    // The declarations in scope are read once for all children: they share
    // their parent.
    const std::string body = answerBody(rawAnswer);
    const NamespaceScope scope = namespacesInScopeAt(body, "ReferenceParameters");
    // The runtime hands a child over with the values of its outer start tag
    // unescaped: a quote or '<' in one leaves text that is no XML. Such a
    // child is taken as the answer wrote it.
    std::vector<std::string_view> asWritten;
    size_t element = 0;
    for (int i = 0; i < parameters->__size && element < maxChildren; ++i) {
        const char *child = parameters->__any[i];
        if (child == nullptr || trimXmlSpace(child).empty()) {
            continue;
        }
        std::string_view fragment = child;
        if (!readsAsXmlFragment(fragment)) {
            if (asWritten.empty()) {
                asWritten = childElementsOf(body, "ReferenceParameters");
            }
            if (element < asWritten.size()) {
                fragment = asWritten[element];
            }
        }
        ++element;
        reference += compactReference(declareNamespaces(fragment, scope));
    }
    return reference;
}

std::string pullPointReference(const wsa5__ReferenceParametersType *parameters,
                               std::string_view rawAnswer)
{
    return storedReferenceParameters(parameters, rawAnswer, SIZE_MAX);
}

} // namespace vek
