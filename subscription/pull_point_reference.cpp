#include "pull_point_reference.h"

#include "reference_compact.h"
#include "reference_namespaces.h"
#include "soapH.h"
#include "vek_text.h"

namespace vek
{

std::string pullPointReference(const wsa5__ReferenceParametersType *parameters,
                               std::string_view rawAnswer)
{
    std::string reference;
    if (parameters == nullptr || parameters->__any == nullptr) {
        return reference;
    }
    // The declarations in scope are read once for all children: they share
    // their parent.
    const NamespaceScope scope = namespacesInScopeAt(rawAnswer, "ReferenceParameters");
    for (int i = 0; i < parameters->__size; ++i) {
        const char *child = parameters->__any[i];
        if (child == nullptr || trimXmlSpace(child).empty()) {
            continue;
        }
        reference += compactReference(declareNamespaces(child, scope));
    }
    return reference;
}

} // namespace vek
