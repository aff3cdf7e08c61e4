// The record-by-record copy of one open data file into another.
//
// Every record the source gives (Get First/Get Next on key 0, or Step First/Step Next for a file
// without keys) is inserted into the destination straight from the source's record buffer: no
// record is copied in memory and nothing is allocated per record. The copy stops at the first
// read or Insert that does not answer 0; the records inserted before it stay.
#pragma once

#include "WinBtr.h"

#include <cstdint>
#include <functional>

struct CopyOutcome
{
    // Where the copy ended: every record read (Complete), a read or an Insert that failed, or
    // the destination's Close, whose commit of the last writes failed.
    enum Stop { Complete, Read, Insert, Close };
    Stop stop = Complete;
    // The status that ended the copy; 0 when it was complete.
    int16_t status = btr::status::Success;
    // Inserts the record manager answered 0.
    int32_t inserted = 0;
    // Records the destination held before the copy and, after a failed copy, after it, both by
    // its own Stat; -1 where a Stat failed. A full disk drops the writes not yet committed, so
    // Inserts answered 0 can be gone again.
    int32_t heldBefore = -1;
    int32_t heldAfter = -1;

    bool failed() const { return stop != Complete; }
    // Inserts answered 0 whose records the destination no longer holds; 0 where its count is
    // not known.
    int32_t lost() const;
    // Records the copy added to the destination: the destination's own count where it is known,
    // the Inserts answered 0 otherwise.
    int32_t copied() const;
};

// The Insert statuses that are about the record itself (its key repeats a unique value, its
// length does not suit the file): a load or recovery that keeps going passes over such a record.
// Anything else (a full disk, an I/O error, a file that cannot be written) would refuse every
// record after it just the same, so it ends the work.
bool refusesTheRecord(int16_t status);

// Copies every record of source into destination, both open. The source's record buffer is
// widened first to the longest record it can give (a variable-length record whole) and at least
// a destination record, so a shorter record reaches a wider destination followed by zero bytes;
// a narrower destination receives each record's leading bytes. A variable-length destination
// takes each record at its own length (never shorter than its fixed part), a fixed-length one
// its record length. inserted, when given, runs after each Insert that answered 0.
CopyOutcome copyRecords(
    TWinBtr& source, TWinBtr& destination, const std::function<void()>& inserted = {});

// Reads every record `source` gives, in the order its KeyNumber and UseStep choose (Get First/Next
// on that key, or Step First/Next; with `backward` Get Last/Previous or Step Last/Previous), each
// whole into its record buffer: the buffer is widened first to the longest record a
// variable-length file can give, and ReturnedLength is each record's length. `each` runs after
// each record; false from it stops the read. Returns EndOfFile when every record was read, 0 when
// `each` stopped the read, otherwise the status that stopped it.
int16_t readEveryRecord(TWinBtr& source, const std::function<bool()>& each, bool backward = false);

// Closes the destination after copyRecords. Its Close commits the writes still pending; when that
// commit fails the record manager drops them, so a copy that looked complete is not: the outcome
// then says so, with the destination's own count taken by opening `name` again.
void closeDestination(TWinBtr& destination, const char* name, CopyOutcome& outcome);
