#include "Reason.h"

namespace recman {

namespace {

thread_local std::string reason;

} // namespace

void explain(std::string text)
{
    reason = std::move(text);
}

const std::string& lastReason()
{
    return reason;
}

void forgetReason()
{
    reason.clear();
}

} // namespace recman
