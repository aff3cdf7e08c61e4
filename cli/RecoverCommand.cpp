// recover SOURCE DESTINATION, recover SOURCE --save FILE: every record that can be read out of a
// damaged file written by the vendor's engine, into a new data file or a sequential file. The
// source is opened in the record manager's salvage mode (read-only) and read in physical order;
// what was skipped and why is reported on standard error, or as JSON.
#include "Commands.h"
#include "CopyRecords.h"
#include "DefinitionLayout.h"
#include "Description.h"
#include "LittleEndian.h"
#include "Messages.h"
#include "Output.h"
#include "ReadOptions.h"
#include "Sequential.h"
#include "SpecBuffer.h"

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

namespace cli {

namespace {

namespace fs = std::filesystem;
namespace report = btr::salvage::report;

struct RecoverOptions
{
    std::string source;
    std::string destination;
    std::string definition;
    std::string save;
    bool wholeOnly = false;
    bool json = false;
    std::string owner;
};

// The record manager's salvage report, by field.
struct Report
{
    uint32_t rescued = 0;
    uint32_t partial = 0;
    uint32_t leftOut = 0;
    uint32_t missing = 0;
    uint32_t damaged = 0;
    uint32_t ambiguous = 0;
    uint32_t stale = 0;
    uint32_t untabled = 0;
    uint32_t counted = 0;
    uint8_t source = 0;
    bool acsLost = false;
    bool pageSizeFromPages = false;
    uint16_t pageSize = 0;

    uint32_t skipped() const { return missing + damaged + ambiguous; }
};

Report readReport(const uint8_t* r)
{
    using btr::le::get16;
    using btr::le::get32;
    Report out;
    out.rescued = get32(r + report::Rescued);
    out.partial = get32(r + report::Partial);
    out.leftOut = get32(r + report::LeftOut);
    out.missing = get32(r + report::PagesMissing);
    out.damaged = get32(r + report::PagesDamaged);
    out.ambiguous = get32(r + report::PagesAmbiguous);
    out.stale = get32(r + report::StaleCopies);
    out.untabled = get32(r + report::Untabled);
    out.counted = get32(r + report::CountedRecords);
    out.source = r[report::Source];
    out.acsLost = r[report::Flags] & btr::salvage::AcsLost;
    out.pageSizeFromPages = r[report::Flags] & btr::salvage::PageSizeFromPages;
    out.pageSize = get16(r + report::PageSize);
    return out;
}

// Where the definition came from: in the report's words, and as the JSON value.
struct SourceName
{
    const char* words;
    const char* key;
};

SourceName sourceName(uint8_t source)
{
    switch (source) {
    case btr::salvage::FromControlRecord:
        return {"the control record", "control_record"};
    case btr::salvage::FromShadow:
        return {"the shadow control record", "shadow"};
    case btr::salvage::FromCaller:
        return {"--definition", "given"};
    default:
        return {"nowhere", "none"};
    }
}

struct Refusal
{
    uint64_t number;
    uint32_t position;
    int16_t status;
};

// The definition --definition names: another data file's Stat image, or a description file.
bool givenDefinition(Context& ctx, const std::string& name, std::vector<uint8_t>& image)
{
    TWinBtr file;
    if (file.Open(name.c_str(), "", btr::mode::ReadOnly) == btr::status::Success) {
        spec::SpecBuffer stat;
        const int16_t status = file.StatTo(stat.data());
        file.Close();
        if (status != btr::status::Success) {
            ctx.fail(cannotDo("Cannot read the definition of", name, status));
            return false;
        }
        // The image alone: an owner name given goes right after it.
        const spec::Layout layout = stat.readLayout();
        const size_t size = std::min<size_t>(btr::SpecBufferSize,
            size_t(layout.acsOffset()) + size_t(btr::layout::AcsBlockSize) * layout.acsBlockCount);
        image.assign(stat.bytes.begin(), stat.bytes.begin() + long(size));
        return true;
    }
    const int16_t status = file.GetStatus();
    if (file.IsOpen)
        file.Close();
    if (status != btr::status::NotADataFile) {
        ctx.fail(cannotDo("Cannot open", name, status));
        return false;
    }
    spec::Description description;
    std::string displayName;
    if (!loadDescription(ctx, name, description, displayName))
        return false;
    image = description.image;
    return true;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

void runRecover(Context& ctx, const RecoverOptions& opt)
{
    const std::string target = opt.save.empty() ? opt.destination : opt.save;
    if (target != "-" && sameFile(opt.source, target)) {
        ctx.fail("Cannot recover " + opt.source + " into itself (" + target + ").");
        return;
    }
    std::vector<uint8_t> given;
    if (!opt.definition.empty() && !givenDefinition(ctx, opt.definition, given))
        return;
    // The owner name follows the definition image, or stands alone.
    if (!opt.owner.empty()) {
        given.insert(given.end(), opt.owner.begin(), opt.owner.end());
        given.push_back(0);
    }

    TWinBtr source;
    const auto mode = opt.wholeOnly ? btr::mode::SalvageWholeOnly : btr::mode::Salvage;
    if (source.OpenWith(opt.source.c_str(), given.data(), uint16_t(given.size()), uint8_t(mode))
        != btr::status::Success) {
        const int16_t status = source.GetStatus();
        if (source.IsOpen)
            source.Close();
        std::string message = cannotDo("Cannot recover", opt.source, status);
        if (status == btr::status::IoError)
            message += opt.definition.empty()
                ? " Nothing in it can be read as it is; if its control records are lost, give "
                  "its definition with --definition FILE (a data file or a description of the "
                  "same layout)."
                : " Nothing in it can be read, not even with the definition of " + opt.definition
                    + ".";
        else if (status == btr::status::OperationNotAllowed)
            message += " Only files written by the vendor's engine are recovered; copy this one.";
        ctx.fail(message);
        return;
    }
    if (!recordsReadable(ctx, source, opt.source, opt.owner))
        return;
    uint8_t facts[btr::facts::Size];
    const bool compressed = source.GetFileFacts(facts) == btr::status::Success
        && (btr::le::get16(facts + btr::facts::at::Features) & btr::facts::Compressed);
    uint8_t reportBytes[btr::salvage::ReportSize] = {};
    if (source.CallWith(btr::op::SalvageReport, reportBytes, sizeof reportBytes)
        != btr::status::Success) {
        ctx.fail(cannotDo("Cannot read the salvage report of", opt.source, source.GetStatus()));
        return;
    }
    const Report before = readReport(reportBytes);
    if (before.acsLost && opt.save.empty()) {
        ctx.fail(opt.source + " has lost a collating-sequence page, so its keys' order is not "
            + "known: give its definition with --definition FILE (a data file or a description "
            + "with its ACS files), or write the records with --save.");
        return;
    }

    // The destination: a new data file with the definition the records were read with, or a
    // sequential file.
    TWinBtr destination;
    OutputFile output;
    std::unique_ptr<sequential::Writer> writer;
    if (opt.save.empty()) {
        if (createFile(
                destination, opt.destination, source.StatBuffer, sizeof source.StatBuffer, false)
            != btr::status::Success) {
            ctx.fail(cannotDo("Cannot create", opt.destination, destination.GetStatus()));
            return;
        }
        if (!openFile(ctx, destination, opt.destination))
            return;
    } else {
        if (!output.open(ctx, opt.save))
            return;
        writer = std::make_unique<sequential::Writer>(output.stream());
    }

    // Every record the salvage gives, in physical order, each inserted at its own length (never
    // shorter than the destination's fixed part).
    constexpr uint16_t LongestRecord = 65535;
    source.UseStep = true;
    source.AllocBuffer(LongestRecord);
    const uint16_t fixedLength = destination.BufferSize;
    std::vector<Refusal> refused;
    uint64_t inserted = 0;
    uint64_t number = 0;
    int16_t readStatus = btr::status::Success;
    CopyOutcome outcome;
    std::string failure;
    {
        Progress progress(ctx, "recover " + opt.source, before.rescued);
        for (source.GetFirst(); source.GetStatus() == btr::status::Success; source.GetNext()) {
            ++number;
            const uint16_t length = source.ReturnedLength;
            if (writer) {
                if (!writer->write(source.Buffer, length)) {
                    failure = fileFailure("Cannot write", opt.save, errno);
                    break;
                }
            } else {
                destination.SetDataPtr(source.Buffer);
                destination.DataLength = std::max(length, fixedLength);
                const int16_t status = destination.Insert();
                if (status != btr::status::Success) {
                    if (!refusesTheRecord(status)) {
                        outcome.stop = CopyOutcome::Insert;
                        outcome.status = status;
                        break;
                    }
                    const int32_t position = source.GetPosition();
                    refused.push_back({number, uint32_t(position), status});
                    continue;
                }
            }
            ++inserted;
            progress.step();
        }
        readStatus = source.GetStatus();
    }
    if (failure.empty() && outcome.stop == CopyOutcome::Complete
        && readStatus != btr::status::EndOfFile)
        outcome = CopyOutcome {CopyOutcome::Read, readStatus};
    outcome.inserted = int32_t(inserted);
    source.Close();

    if (writer) {
        if (failure.empty() && outcome.stop == CopyOutcome::Complete && !writer->finish())
            failure = fileFailure("Cannot write", opt.save, errno);
        if (failure.empty() && outcome.stop == CopyOutcome::Complete && !output.commit(ctx))
            return;
    } else {
        closeDestination(destination, opt.destination.c_str(), outcome);
    }

    // The report, in words or as JSON.
    if (opt.json) {
        nlohmann::ordered_json j;
        j["source"] = opt.source;
        j[opt.save.empty() ? "destination" : "save"] = target;
        j["definition"] = sourceName(before.source).key;
        j["page_size"] = before.pageSize;
        j["page_size_from_pages"] = before.pageSizeFromPages;
        j["rescued"] = before.rescued;
        j["partial"] = before.partial;
        j["left_out"] = before.leftOut;
        j["skipped_pages"] = {{"total", before.skipped()}, {"missing", before.missing},
            {"damaged", before.damaged}, {"ambiguous", before.ambiguous}};
        j["stale_copies"] = before.stale;
        j["untabled_pages"] = before.untabled;
        j["control_record_records"] = before.counted == UINT32_MAX
            ? nlohmann::ordered_json()
            : nlohmann::ordered_json(before.counted);
        j["collating_sequence_lost"] = before.acsLost;
        j["written"] = inserted;
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const Refusal& r : refused)
            list.push_back({{"record", r.number}, {"position", r.position}, {"status", r.status},
                {"reason", btr::statusText(r.status)}});
        j["refused"] = list;
        fmt::print(ctx.io.out, "{}\n",
            j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    } else {
        ctx.note(fmt::format("{}: definition from {}, page size {}{}.", opt.source,
            sourceName(before.source).words, before.pageSize,
            before.pageSizeFromPages ? " (told by the pages)" : ""));
        if (before.counted != UINT32_MAX)
            ctx.note(fmt::format(
                "{}: its control record counts {} records.", opt.source, before.counted));
        if (before.skipped() > 0)
            ctx.note(fmt::format("{}: pages skipped: {} missing (cut off), {} damaged, {} "
                                 "ambiguous (equally recent copies that differ).",
                opt.source, before.missing, before.damaged, before.ambiguous));
        if (before.stale > 0 || before.untabled > 0)
            ctx.note(fmt::format("{}: older copies of pages passed over: {}; pages taken from "
                                 "copies that no page table names: {}.",
                opt.source, before.stale, before.untabled));
        if (before.partial > 0)
            ctx.note(fmt::format("{}: {} records without their variable part (its chain is "
                                 "broken).",
                opt.source, before.partial));
        if (before.leftOut > 0)
            ctx.note(compressed
                    ? fmt::format("{}: {} records left out (their compressed stream does not "
                                  "decode).",
                        opt.source, before.leftOut)
                    : fmt::format("{}: {} records left out whole-only (their variable part is "
                                  "broken).",
                        opt.source, before.leftOut));
        if (before.acsLost)
            ctx.note(opt.source + " has lost a collating-sequence page; a file made from these "
                + "records needs its definition from --definition.");
        for (const Refusal& r : refused)
            ctx.note(fmt::format("{} refused record {} (at position {} of {}): {}.",
                opt.destination, r.number, r.position, opt.source, statusWords(r.status)));
        fmt::print(ctx.io.err,
            "rescued {} records ({} partial); skipped {} pages; {} refused by "
            "the destination\n",
            before.rescued, before.partial, before.skipped(), refused.size());
    }

    if (!failure.empty()) {
        ctx.fail(failure);
        return;
    }
    if (outcome.failed()) {
        ctx.fail(copyFailure(outcome, opt.source, opt.destination));
        return;
    }
    if (!refused.empty())
        ctx.fail(fmt::format("{} of the {} rescued records were refused by {}.", refused.size(),
            before.rescued, opt.destination));
}

} // namespace

Command addRecoverCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<RecoverOptions>();
    CLI::App* cmd = app.add_subcommand(
        "recover", "Rescue every readable record of a damaged file of the vendor's engine");
    cmd->add_option("SOURCE", opt->source, "The damaged file (never written)")->required();
    auto* destination = cmd->add_option("DESTINATION", opt->destination, "The data file to create");
    auto* save = cmd->add_option("--save", opt->save,
        "Write the records to this sequential file instead (- for standard "
        "output)");
    destination->excludes(save);
    cmd->add_option("--definition", opt->definition,
        "Read SOURCE with this definition when its own is lost: a data file or a description");
    cmd->add_flag("--whole-only", opt->wholeOnly,
        "Leave out records whose variable part cannot be read whole");
    cmd->add_flag("--json", opt->json, "The report as JSON on standard output");
    addOwnerOption(cmd, opt->owner);
    cmd->callback([opt] {
        if (opt->destination.empty() && opt->save.empty())
            throw CLI::ValidationError("recover", "give DESTINATION or --save FILE");
    });
    cmd->footer("SOURCE is read in physical order, each page checked on its own; the report ends "
                "with 'rescued N records (P partial); skipped K pages; R refused by the "
                "destination'. DESTINATION must not exist.");
    return {cmd, [&ctx, opt] { runRecover(ctx, *opt); }};
}

} // namespace cli
