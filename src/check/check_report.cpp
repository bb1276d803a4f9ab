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

void check_print_findings(FILE *out, const CheckResult &result)
{
    FileDescriber describe = check_describer(result);
    for (const Finding &f : result.findings) {
        const ProblemInfo &info = check_problem_info(f.problem);
        std::string line = std::string(check_scope_name(f.scope)) + ": " + check_format(info.message, f, describe);
        const char *advice = f.advice != nullptr ? f.advice : info.advice;
        if (advice != nullptr && !check_repairable(result, f))
            line += std::string("; ") + advice;
        fprintf(out, "%s\n", line.c_str());
    }
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
