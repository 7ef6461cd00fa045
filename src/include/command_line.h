// Command lines of the daemon's tools: one walk over the arguments and one
// layout of the option help, so that every tool reads and explains its
// options the same way.
#ifndef TESSARON_COMMAND_LINE_H
#define TESSARON_COMMAND_LINE_H

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

// An option without a value: it sets *field. One that ends the walk (help)
// lets the arguments after it be anything.
struct FlagOption {
    const char* name;
    bool* field;
    bool ends_walk;
};

// Walks args as flags and "--name value" pairs. takes_value(arg) says whether
// arg names an option with a value; take(name, value, error) sets it, or says
// why not in *error. An unknown argument or a value missing at the end fails
// with the reason in *error.
template <typename TakesValue, typename Take>
bool WalkOptions(const std::vector<std::string>& args, std::initializer_list<FlagOption> flags,
                 TakesValue takes_value, Take take, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const FlagOption* const flag = std::find_if(
            flags.begin(), flags.end(), [&arg](const FlagOption& f) { return arg == f.name; });
        if (flag != flags.end()) {
            *flag->field = true;
            if (flag->ends_walk) {
                return true;
            }
            continue;
        }
        if (!takes_value(arg)) {
            *error = "unknown argument '" + arg + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = arg + " needs a value";
            return false;
        }
        if (!take(arg, args[++i], error)) {
            return false;
        }
    }
    return true;
}

// argv[1..argc-1] as strings.
inline std::vector<std::string> ArgumentsOf(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        args.emplace_back(argv[i]);
    }
    return args;
}

// One row of a tool's option help: the option as typed, and what it does
// (a '\n' in the text continues it on a line of its own, under the first).
struct OptionHelp {
    const char* option;
    const char* text;
};

// The rows, one option a line indented by two: the texts start in one column
// option_width past the indent; an option too long for it is followed by two
// spaces instead.
inline std::string OptionHelpLines(std::initializer_list<OptionHelp> rows, size_t option_width) {
    const std::string under_text(2 + option_width, ' ');
    std::string lines;
    for (const OptionHelp& row : rows) {
        const std::string option = row.option;
        lines += "  " + option;
        lines +=
            std::string(option.size() + 2 <= option_width ? option_width - option.size() : 2, ' ');
        for (const char* c = row.text; *c != '\0'; ++c) {
            lines += *c;
            if (*c == '\n') {
                lines += under_text;
            }
        }
        lines += "\n";
    }
    return lines;
}

#endif
