// Why the current call answers what it does, in words, for the entry point's Reason operation:
// the part that finds a failure (a version the legacy reader does not read, a page that gives out)
// says why here; the entry point forgets it at the start of the next call. One per thread, as
// errno is: a worker that owns its own handles never sees another thread's reasons.
#pragma once

#include <cstdint>
#include <string>

namespace recman {

// `kind`: one of btr::reason's kinds.
void explain(uint8_t kind, std::string text);
const std::string& lastReason();
uint8_t lastReasonKind();
void forgetReason();

} // namespace recman
