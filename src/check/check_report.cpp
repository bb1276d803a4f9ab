#include "check/check_report.h"

#include <algorithm>

namespace {

int scope_rank(int scope)
{
    return scope == SCOPE_DISK ? -1 : scope;
}

const char *plural(uint64_t count)
{
    return count == 1 ? "" : "s";
}

// Whether the repaired disk still shows `finding` (the same kind, in the same place,
// about the same file).
bool still_there(const Finding &finding, const std::vector<Finding> &remaining)
{
    for (const Finding &r : remaining) {
        if (r.problem == finding.problem && r.scope == finding.scope && r.file.partition == finding.file.partition &&
            r.file.name == finding.file.name)
            return true;
    }
    return false;
}

// The facts of a failing drive's findings as numbers, beside the message.
void write_unreadable(JsonWriter *json, const Finding &f)
{
    if (f.problem == Problem::BadAreaFile) {
        json_key(json, "file");
        json_string(json, f.file.name);
        json_key(json, "unreadable_bytes");
        json_uint(json, f.n[0]);
        json_key(json, "unreadable_areas");
        json_begin_array(json);
        for (const auto &[first, last] : f.areas) {
            json_begin_object(json);
            json_key(json, "first");
            json_uint(json, first);
            json_key(json, "last");
            json_uint(json, last);
            json_end_object(json);
        }
        json_end_array(json);
    } else if (f.problem == Problem::MapSummary) {
        const char *keys[] = {"unreadable_bytes", "files_touched", "whole_recordings", "listed_recordings"};
        for (int i = 0; i < 4; ++i) {
            json_key(json, keys[i]);
            json_uint(json, f.n[i]);
        }
    }
}

} // namespace

bool check_repairable(const CheckResult &result, const Finding &finding)
{
    if (check_problem_info(finding.problem).remedy != Remedy::Repair || finding.held || result.disk_in_doubt)
        return false;
    if (finding.scope >= 0 && finding.scope < PARTITION_COUNT)
        return !result.partitions[finding.scope].layout_in_doubt;
    return true;
}

CheckTally check_tally(const CheckResult &result)
{
    CheckTally tally;
    for (const Finding &f : result.findings) {
        if (check_problem_info(f.problem).remedy == Remedy::Notice) {
            ++tally.notices;
            continue;
        }
        ++tally.problems;
        tally.repairable += check_repairable(result, f) ? 1 : 0;
        tally.leaked_clusters += f.leaked_clusters;
        tally.leaked_bytes += f.leaked_bytes;
    }
    return tally;
}

void check_sort_findings(CheckResult *result)
{
    std::stable_sort(result->findings.begin(), result->findings.end(),
                     [](const Finding &a, const Finding &b) { return scope_rank(a.scope) < scope_rank(b.scope); });
}

std::string check_finding_line(const CheckResult &result, const Finding &finding, const FileDescriber &describe)
{
    const ProblemInfo &info = check_problem_info(finding.problem);
    std::string line = std::string(check_scope_name(finding.scope)) + ": " + check_format(info.message, finding, describe);
    const char *advice = finding.advice != nullptr ? finding.advice : info.advice;
    if (advice != nullptr && !check_repairable(result, finding))
        line += std::string("; ") + advice;
    return line;
}

void check_print_findings(FILE *out, const CheckResult &result)
{
    FileDescriber describe = check_describer(result);
    for (const Finding &f : result.findings)
        fprintf(out, "%s\n", check_finding_line(result, f, describe).c_str());
}

std::optional<unsigned> check_finding_recording(const CheckResult &result, const Finding &finding)
{
    if (finding.problem == Problem::StreamMissing || finding.problem == Problem::StreamPastEnd ||
        finding.problem == Problem::NumberTwice)
        return static_cast<unsigned>(finding.n[0]);
    for (const FileRef *file : {&finding.file, &finding.other}) {
        unsigned number = 0;
        bool named = file->partition == PARTITION_AV
                         ? check_numbered_name(file->name, ".av", &number) ||
                               check_numbered_name(file->name, ".elu", &number)
                         : file->partition == PARTITION_EPG && check_numbered_name(file->name, ".epg", &number);
        auto it = named ? result.records.position_of.find(number) : result.records.position_of.end();
        if (it != result.records.position_of.end())
            return it->second;
    }
    return std::nullopt;
}

void check_write_json(JsonWriter *json, const std::string &path, const CheckResult &result,
                      const CheckTally &tally, int status, const RepairOutcome *repair)
{
    FileDescriber describe = check_describer(result);
    json_begin_object(json);
    json_key(json, "disk");
    json_string(json, path);
    json_key(json, "status");
    json_int(json, status);
    json_key(json, "findings");
    json_begin_array(json);
    for (const Finding &f : result.findings) {
        bool repairable = check_repairable(result, f);
        json_begin_object(json);
        json_key(json, "partition");
        if (f.scope >= 0 && f.scope < PARTITION_COUNT)
            json_string(json, partition_name(f.scope));
        else
            json_null(json);
        json_key(json, "kind");
        json_string(json, check_problem_info(f.problem).name);
        json_key(json, "message");
        json_string(json, check_finding_line(result, f, describe));
        json_key(json, "recording");
        std::optional<unsigned> recording = check_finding_recording(result, f);
        if (recording)
            json_uint(json, *recording);
        else
            json_null(json);
        json_key(json, "repairable");
        json_bool(json, repairable);
        json_key(json, "repaired");
        json_bool(json, repairable && repair != nullptr && repair->written && !still_there(f, repair->remaining));
        write_unreadable(json, f);
        json_end_object(json);
    }
    json_end_array(json);
    json_key(json, "leaked_bytes");
    json_uint(json, tally.leaked_bytes);
    if (repair != nullptr) {
        json_key(json, "changes");
        json_begin_array(json);
        for (const std::string &line : repair->lines)
            json_string(json, line);
        json_end_array(json);
        json_key(json, "notes");
        json_begin_array(json);
        for (const std::string &line : repair->notes)
            json_string(json, line);
        json_end_array(json);
    }
    json_end_object(json);
}

void check_print_summary(FILE *out, const std::string &path, const CheckTally &tally)
{
    std::string shown = check_inert(path);
    if (tally.problems == 0)
        fprintf(out, "%s: no problems", shown.c_str());
    else
        fprintf(out, "%s: %u problem%s (%u repairable)", shown.c_str(), tally.problems, plural(tally.problems),
                tally.repairable);
    if (tally.notices > 0)
        fprintf(out, ", %u notice%s", tally.notices, plural(tally.notices));
    fprintf(out, ", %llu bytes leaked", static_cast<unsigned long long>(tally.leaked_bytes));
    if (tally.leaked_clusters > 0)
        fprintf(out, " in %llu cluster%s", static_cast<unsigned long long>(tally.leaked_clusters),
                plural(tally.leaked_clusters));
    fprintf(out, "\n");
}
