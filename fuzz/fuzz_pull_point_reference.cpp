// The reference parameters of a CreatePullPointSubscription answer. The
// input is the answer's envelope: the runtime reads it from memory, behind
// a 200 status line, through the capture the library reads the inherited
// declarations from, and vek::pullPointReference keeps the reference. The
// steps it takes are also run on each child, and on the whole input as a
// fragment, so that texts the runtime refuses still reach them.
// What must hold:
// - compaction is stable: compacting its own output changes nothing (it
//   may lengthen a start tag that is not well-formed, such as <a x="1"y="2"/>,
//   so length is not checked);
// - every prefix of an element or attribute name that the answer binds at
//   ReferenceParameters is declared on the child, and compaction leaves no
//   further prefix undeclared.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fixture_topic_set.h"
#include "pull_point_reference.h"
#include "reference_compact.h"
#include "reference_namespaces.h"
#include "response_capture.h"
#include "soapH.h"
#include "support.h"

namespace
{

// As the library keeps of a CreatePullPointSubscription answer.
constexpr size_t kCaptureLimit = 1024 * 1024;

[[noreturn]] void fail(const char *what, std::string_view before, std::string_view after)
{
    std::fprintf(stderr, "%s\n  before: [%.*s]\n  after:  [%.*s]\n", what,
                 static_cast<int>(before.size()), before.data(), static_cast<int>(after.size()),
                 after.data());
    std::abort();
}

std::string compactChecked(std::string_view fragment)
{
    std::string compact = vek::compactReference(fragment);
    const std::string again = vek::compactReference(compact);
    if (again != compact) {
        fail("compaction is not stable", compact, again);
    }
    return compact;
}

bool holds(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

// One child of ReferenceParameters as the runtime kept it. (The runtime
// passes on some start tags that are not well-formed, so the declarations
// added are looked for as text rather than by reading the result again.)
void checkChild(const char *child, const vek::NamespaceScope &scope)
{
    const std::string declared = vek::declareNamespaces(child, scope);
    for (const std::string &prefix : vek::undeclaredPrefixes(child)) {
        auto bound = scope.find(prefix);
        if (bound != scope.end() && !bound->second.empty() &&
            declared.find(" xmlns:" + prefix + "=\"" + bound->second + "\"") == std::string::npos) {
            fail(("prefix " + prefix + " is bound in the answer but left undeclared").c_str(),
                 child, declared);
        }
    }
    const std::vector<std::string> missing = vek::undeclaredPrefixes(declared);
    const std::string compact = compactChecked(declared);
    for (const std::string &prefix : vek::undeclaredPrefixes(compact)) {
        if (!holds(missing, prefix)) {
            fail(("compaction dropped the declaration of " + prefix).c_str(), declared, compact);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vekfuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    const vek::NamespaceScope inputScope = vek::namespacesInScopeAt(input, "ReferenceParameters");
    compactChecked(vek::declareNamespaces(input, inputScope));

    vekfix::InMemorySoap soap(vekfix::httpAnswer(input));
    vek::ResponseCapture capture(soap.get(), kCaptureLimit);
    _ns1__CreatePullPointSubscriptionResponse response;
    if (soap_recv___ns12__CreatePullPointSubscription(soap.get(), &response) != SOAP_OK ||
        response.SubscriptionReference == nullptr) {
        return 0;
    }
    const wsa5__ReferenceParametersType *parameters =
        response.SubscriptionReference->ReferenceParameters;
    vek::pullPointReference(parameters, capture.text());
    if (parameters == nullptr || parameters->__any == nullptr) {
        return 0;
    }
    const vek::NamespaceScope scope =
        vek::namespacesInScopeAt(capture.text(), "ReferenceParameters");
    for (int i = 0; i < parameters->__size; ++i) {
        if (parameters->__any[i] != nullptr) {
            checkChild(parameters->__any[i], scope);
        }
    }
    return 0;
}
