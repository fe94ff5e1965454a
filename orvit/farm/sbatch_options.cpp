#include "orvit/farm/sbatch_options.h"

#include "orvit/core/host_error.h"

#include <algorithm>
#include <iterator>

namespace orvit::farm {

namespace {

// Why an sbatch option may not come through --sbatch; each named by its
// long name and, where it has one, its letter.
struct Refused {
    const char* name;
    char letter;
    const char* why;
};
constexpr const char* kSetsIt = "";
const Refused kRefused[] = {
    {"array", 'a', kSetsIt},
    {"output", 'o', kSetsIt},
    {"error", 'e', kSetsIt},
    {"input", 'i', kSetsIt},
    {"chdir", 'D', kSetsIt},
    {"job-name", 'J', kSetsIt},
    {"parsable", 0, kSetsIt},
    {"open-mode", 0, kSetsIt},
    {"ntasks", 'n', kSetsIt},
    {"cpus-per-task", 'c', " (use its --cpus)"},
    {"partition", 'p', " (use its --partition)"},
    {"time", 't', " (use its --time)"},
    {"mem", 0, " (use its --mem)"},
    {"requeue", 0, " (use its --requeue)"},
    {"no-requeue", 0, " (use its --no-requeue)"},
    {"wrap", 0, "it changes what a task runs"},
    {"export", 0, "it changes what a task runs"},
    {"export-file", 0, "it changes what a task runs"},
    {"get-user-env", 0, "it changes what a task runs"},
    {"container", 0, "it changes what a task runs"},
    {"uid", 0, "it changes what a task runs"},
    {"gid", 0, "it changes what a task runs"},
    {"clusters", 'M', "orvit farm follows its jobs on the cluster squeue answers for"},
    {"wait", 'W', "submit would wait until the job ends"},
    {"test-only", 0, "sbatch would then submit nothing"},
    {"help", 'h', "sbatch would then submit nothing"},
    {"usage", 0, "sbatch would then submit nothing"},
    {"version", 'V', "sbatch would then submit nothing"},
};

// sbatch's one-letter options, and whether each takes a value.
struct Letter {
    char letter;
    bool value;
};
const Letter kLetters[] = {
    {'a', true}, {'A', true},  {'b', true},  {'B', true},  {'c', true},  {'C', true},  {'d', true},
    {'D', true}, {'e', true},  {'F', true},  {'G', true},  {'h', false}, {'H', false}, {'i', true},
    {'J', true}, {'k', false}, {'L', true},  {'m', true},  {'M', true},  {'n', true},  {'N', true},
    {'o', true}, {'O', false}, {'p', true},  {'q', true},  {'Q', false}, {'s', false}, {'S', true},
    {'t', true}, {'v', false}, {'V', false}, {'W', false}, {'w', true},  {'x', true},
};

// sbatch's long options that take no value, or one only after '=': any
// other, given without '=', would take the next argument (the script) as
// its value.
const char* const kLongFlags[] = {
    "contiguous", "exclusive",  "hold",          "ignore-pbs", "nice",
    "no-kill",    "overcommit", "oversubscribe", "propagate",  "quiet",
    "reboot",     "spread-job", "use-min-nodes", "verbose",
};

} // namespace

void checkSbatchOption(const std::string& option) {
    auto refuse = [&](const std::string& why) {
        throw core::AppError("--sbatch '" + option + "': " + why);
    };
    for (unsigned char c : option)
        if (c < 0x20 || c == 0x7f)
            refuse("an option with a control character cannot go to sbatch");
    if (option.size() < 2 || option[0] != '-' || option == "--")
        refuse("not an sbatch option (write it as --sbatch=--name=value)");
    const auto refused = [&](const Refused& r) {
        refuse(*r.why == '\0' || *r.why == ' '
                   ? std::string("orvit farm sets --") + r.name + " itself" + r.why
                   : std::string("--") + r.name + ": " + r.why);
    };
    if (option[1] == '-') {
        // A long option, as getopt reads it: any unambiguous start of its
        // name, the value after '='. A start that could be a refused one
        // is refused: sbatch would take it so or find it ambiguous.
        const size_t equals = option.find('=');
        const std::string name = option.substr(2, equals - 2);
        if (name.empty())
            refuse("not an sbatch option (write it as --sbatch=--name=value)");
        for (const Refused& r : kRefused)
            if (std::string(r.name).rfind(name, 0) == 0)
                refused(r);
        if (equals == std::string::npos &&
            std::none_of(std::begin(kLongFlags), std::end(kLongFlags),
                         [&](const char* flag) { return std::string(flag).rfind(name, 0) == 0; }))
            refuse("give its value after '=' (--" + name +
                   "=VALUE), or sbatch takes the next argument as its value");
        return;
    }
    // Short options, as getopt reads a bundle: letters without a value one
    // after another, and a letter that takes a value takes the rest.
    for (size_t i = 1; i < option.size(); ++i) {
        const char c = option[i];
        const auto letter = std::find_if(std::begin(kLetters), std::end(kLetters),
                                         [&](const Letter& l) { return l.letter == c; });
        if (letter == std::end(kLetters))
            refuse(std::string("sbatch has no option -") + c);
        for (const Refused& r : kRefused)
            if (r.letter == c)
                refused(r);
        if (letter->value) {
            if (i + 1 == option.size())
                refuse(std::string("give -") + c + "'s value in the same argument (-" + c +
                       "VALUE), or sbatch takes the next argument as its value");
            return;
        }
    }
}

} // namespace orvit::farm
