// Why the current call answers what it does, in words, for the entry point's Reason operation:
// the part that finds a failure (a version the legacy reader does not read, a page that gives out)
// says why here; the entry point forgets it at the start of the next call. One per thread, as
// errno is: a worker that owns its own handles never sees another thread's reasons.
#pragma once

#include <string>

namespace recman {

void explain(std::string text);
const std::string& lastReason();
void forgetReason();

} // namespace recman
