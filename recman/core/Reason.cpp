#include "Reason.h"

namespace recman {

namespace {

thread_local std::string reason;
thread_local uint8_t reasonKind = 0;

} // namespace

void explain(uint8_t kind, std::string text)
{
    reasonKind = kind;
    reason = std::move(text);
}

uint8_t lastReasonKind()
{
    return reasonKind;
}

const std::string& lastReason()
{
    return reason;
}

void forgetReason()
{
    reasonKind = 0;
    reason.clear();
}

} // namespace recman
