#include "orvit/farm/slurm_answers.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace orvit::farm {

bool isSlurmNumber(const std::string& text, size_t most) {
    return !text.empty() && text.size() <= most &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

std::string parseJobId(const std::string& sbatchOutput) {
    std::string id = core::firstLine(sbatchOutput);
    id = id.substr(0, id.find(';'));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
        throw core::AppError("sbatch gave no job id: '" + core::firstLine(sbatchOutput) + "'");
    return id;
}

// The reason last: it may hold spaces and commas.
const char* const kSqueueFormat =
    "ArrayJobID:|,ArrayTaskID:|,State:|,RestartCnt:|,StartTime:|,NodeList:|,Reason:|";

std::vector<SlurmTask> parseSlurmTasks(const std::string& squeueOutput) {
    std::vector<SlurmTask> tasks;
    std::istringstream lines(squeueOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 6; ++i) {
            const size_t bar = line.find('|', start);
            if (bar == std::string::npos)
                break;
            fields.push_back(core::trimmed(std::string_view(line).substr(start, bar - start)));
            start = bar + 1;
        }
        if (fields.size() < 6 || !isSlurmNumber(fields[0], 20) || !isSlurmNumber(fields[1]) ||
            !isSlurmNumber(fields[3]) || fields[2].empty())
            continue;
        SlurmTask t;
        t.job = fields[0];
        t.task = std::atoi(fields[1].c_str());
        t.state = fields[2];
        t.restarts = std::atoi(fields[3].c_str());
        t.start = fields[4] == "N/A" || fields[4] == "Unknown" ? "" : fields[4];
        t.nodes = fields[5] == "(null)" ? "" : fields[5];
        std::string reason = line.substr(start);
        if (!reason.empty() && reason.back() == '|')
            reason.pop_back();
        t.reason = core::trimmed(reason);
        if (t.reason == "None")
            t.reason.clear();
        tasks.push_back(t);
    }
    std::sort(tasks.begin(), tasks.end(), [](const SlurmTask& a, const SlurmTask& b) {
        return a.job.size() != b.job.size() ? a.job.size() < b.job.size()
               : a.job != b.job             ? a.job < b.job
                                            : a.task < b.task;
    });
    return tasks;
}

bool taskIsOver(const std::string& state) {
    // Slurm's final states; any other (PENDING, RUNNING, REQUEUED, SUSPENDED,
    // COMPLETING, a state of a later Slurm) may still render.
    static const char* const over[] = {"COMPLETED",     "FAILED",       "CANCELLED", "TIMEOUT",
                                       "NODE_FAIL",     "PREEMPTED",    "BOOT_FAIL", "DEADLINE",
                                       "OUT_OF_MEMORY", "SPECIAL_EXIT", "REVOKED"};
    for (const char* s : over)
        if (state == s)
            return true;
    return false;
}

std::vector<AccountedRun> parseAccountedRuns(const std::string& sacctOutput) {
    std::vector<AccountedRun> runs;
    std::istringstream lines(sacctOutput);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, state, nodes;
        if (!std::getline(fields, id, '|') || !std::getline(fields, state, '|'))
            continue;
        std::getline(fields, nodes, '|');
        // "CANCELLED by 0": the state alone.
        state = state.substr(0, state.find(' '));
        const size_t bar = id.find('_');
        if (bar == std::string::npos || !isSlurmNumber(id.substr(0, bar), 20) ||
            !isSlurmNumber(id.substr(bar + 1)) || state.empty())
            continue;
        runs.push_back({id.substr(0, bar), std::atoi(id.c_str() + bar + 1), state,
                        nodes == "None assigned" ? "" : nodes});
    }
    return runs;
}

} // namespace orvit::farm
