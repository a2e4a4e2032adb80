#include "runtime_start.h"

#include <mutex>

#include "stdsoap2.h"

namespace vek
{

void startRuntime()
{
    static std::once_flag once;
    std::call_once(once, [] { soap_ssl_init(); });
}

} // namespace vek
