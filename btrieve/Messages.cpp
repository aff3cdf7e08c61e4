#include "Messages.h"

#include <system_error>

std::string statusWords(int16_t status)
{
    return std::string(btr::statusText(status)) + " (status " + std::to_string(status) + ")";
}

std::string cannotDo(const std::string& what, const std::string& name, int16_t status)
{
    return what + " " + name + ": " + statusWords(status) + ".";
}

std::string cannotDo(
    const std::string& what, const std::string& name, int16_t status, const std::string& reason)
{
    if (reason.empty())
        return cannotDo(what, name, status);
    return what + " " + name + ": " + statusWords(status) + ": " + reason + ".";
}

std::string fileFailure(const std::string& what, const std::string& name, int error)
{
    return what + " " + name + ": " + std::generic_category().message(error) + ".";
}

std::string copyStopped(const std::string& what, const std::string& name, int16_t status,
    const CopyOutcome& outcome, const std::string& destination)
{
    return what + " " + name + ": " + statusWords(status) + ". "
        + recordsCopied(outcome, destination);
}

std::string recordsCopied(const CopyOutcome& outcome, const std::string& destination)
{
    std::string text = std::to_string(outcome.copied()) + " records copied";
    if (outcome.lost() > 0) {
        text += "; " + std::to_string(outcome.lost()) + " records were lost with the failed write; "
            + std::to_string(outcome.heldAfter) + " records are in " + destination;
    }
    return text + ".";
}

const char* copyStopWhat(const CopyOutcome& outcome)
{
    switch (outcome.stop) {
    case CopyOutcome::Read:
        return "Cannot read";
    case CopyOutcome::Close:
        return "Cannot close";
    case CopyOutcome::Insert:
    case CopyOutcome::Complete:
        break;
    }
    return "Cannot insert into";
}
