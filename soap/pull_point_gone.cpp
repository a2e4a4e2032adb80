#include "pull_point_gone.h"

#include <cstring>

#include "stdsoap2.h"

namespace vek
{
namespace
{

bool mentions(const char *text, const char *word)
{
    return text != nullptr && std::strstr(text, word) != nullptr;
}

} // namespace

bool pullPointGone(struct soap *soap)
{
    if (soap->error == 404) {
        return true;
    }
    const char *texts[] = {soap_fault_subcode(soap), soap_fault_detail(soap),
                           soap_fault_string(soap)};
    for (const char *text : texts) {
        if (mentions(text, "ResourceUnknown") || mentions(text, "InvalidArgVal")) {
            return true;
        }
    }
    return false;
}

} // namespace vek
