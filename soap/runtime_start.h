// The runtime's process-wide start (its TLS set-up and random seed) is done
// on the first context it makes, without a lock. Every context of this
// library is made after startRuntime(), which does it once, under
// std::call_once, so that recorder threads may make contexts side by side.
#ifndef VEK_RUNTIME_START_H
#define VEK_RUNTIME_START_H

namespace vek
{

void startRuntime();

// For a context held by value: as the first member (or base), it runs
// startRuntime() before the runtime's constructor of the context.
struct RuntimeStarted {
    RuntimeStarted() { startRuntime(); }
};

} // namespace vek

#endif
