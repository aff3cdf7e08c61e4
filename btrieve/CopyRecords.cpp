#include "CopyRecords.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <algorithm>

namespace {

// The longest record a variable-length file can hold: the record manager's data length is 16
// bits.
constexpr uint16_t LongestRecord = 65535;

bool variableLength(const TWinBtr& file)
{
    return btr::le::get16(file.StatBuffer + btr::layout::file::FileFlags)
        & btr::fileflag::VariableLength;
}

int32_t heldRecords(TWinBtr& file)
{
    int32_t count = 0;
    return file.GetRecordCount(count) == btr::status::Success ? count : -1;
}

} // namespace

bool refusesTheRecord(int16_t status)
{
    return status == btr::status::DuplicateKey || status == btr::status::DataBufferTooShort;
}

int32_t CopyOutcome::lost() const
{
    if (heldBefore < 0 || heldAfter < 0)
        return 0;
    return std::max<int32_t>(0, heldBefore + inserted - heldAfter);
}

int32_t CopyOutcome::copied() const
{
    if (lost() == 0)
        return inserted;
    return std::max<int32_t>(0, heldAfter - heldBefore);
}

CopyOutcome copyRecords(
    TWinBtr& source, TWinBtr& destination, const std::function<void()>& inserted)
{
    CopyOutcome outcome;
    const auto stop = [&outcome](CopyOutcome::Stop where, int16_t status) {
        outcome.stop = where;
        outcome.status = status;
    };
    // Both flags are read before the Stat below replaces the destination's cached definition.
    const bool sourceVariable = variableLength(source);
    const bool destinationVariable = variableLength(destination);
    const uint16_t destinationLength = destination.BufferSize;
    outcome.heldBefore = heldRecords(destination);

    source.AllocBuffer(
        sourceVariable ? LongestRecord : std::max(source.BufferSize, destinationLength));
    if (source.GetStatus() != btr::status::Success) {
        stop(CopyOutcome::Read, source.GetStatus());
    } else {
        source.GetFirst();
        while (source.GetStatus() == btr::status::Success) {
            destination.SetDataPtr(source.Buffer);
            destination.DataLength = destinationVariable
                ? std::max(source.ReturnedLength, destinationLength)
                : destinationLength;
            if (destination.Insert() != btr::status::Success) {
                stop(CopyOutcome::Insert, destination.GetStatus());
                break;
            }
            ++outcome.inserted;
            if (inserted)
                inserted();
            source.GetNext();
        }
        if (!outcome.failed() && source.GetStatus() != btr::status::EndOfFile)
            stop(CopyOutcome::Read, source.GetStatus());
    }
    if (outcome.failed())
        outcome.heldAfter = heldRecords(destination);
    return outcome;
}

int16_t readEveryRecord(TWinBtr& source, const std::function<bool()>& each, bool backward)
{
    source.AllocBuffer(variableLength(source) ? LongestRecord : source.BufferSize);
    if (source.GetStatus() != btr::status::Success)
        return source.GetStatus();
    for (backward ? source.GetLast() : source.GetFirst();
         source.GetStatus() == btr::status::Success;
         backward ? source.GetPrevious() : source.GetNext()) {
        if (!each())
            return btr::status::Success;
    }
    return source.GetStatus();
}

void closeDestination(TWinBtr& destination, const char* name, CopyOutcome& outcome)
{
    const int16_t closed = destination.Close();
    if (closed == btr::status::Success || outcome.failed())
        return;
    outcome.stop = CopyOutcome::Close;
    outcome.status = closed;
    if (destination.Open(name, "", btr::mode::ReadOnly) == btr::status::Success)
        outcome.heldAfter = heldRecords(destination);
    destination.Close();
}
