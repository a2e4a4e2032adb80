#include "pull_point_gone.h"

#include "pull_point_gone_rule.h"
#include "stdsoap2.h"

namespace vek
{

bool pullPointGone(struct soap *soap)
{
    auto text = [](const char *value) {
        return value != nullptr ? std::string_view(value) : std::string_view();
    };
    // A status other than 2xx is the context's error.
    return saysPullPointGone(soap->error,
                             {text(soap_fault_subcode(soap)), text(soap_fault_detail(soap)),
                              text(soap_fault_string(soap))});
}

} // namespace vek
