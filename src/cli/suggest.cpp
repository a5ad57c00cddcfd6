#include "suggest.h"

#include <algorithm>
#include <numeric>

std::size_t edit_distance(const std::string& a, const std::string& b) {
    // Rows of the optimal string alignment distance: two back, one back, this one.
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
    std::iota(previous.begin(), previous.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) row[j] = std::min(row[j], before[j - 2] + 1);
        }
        before = previous;
        previous = row;
    }
    return previous[b.size()];
}

namespace {
bool known(const option_names_t& options, const std::string& name) {
    return std::find(options.names.begin(), options.names.end(), name) != options.names.end();
}

bool takes_value(const option_names_t& options, const std::string& name) {
    return std::find(options.with_values.begin(), options.with_values.end(), name) != options.with_values.end();
}

// The long option nearest to a mistyped one, if it is near enough to be what was meant.
std::string nearest(const option_names_t& options, const std::string& typed) {
    std::string best;
    std::size_t best_distance = std::max<std::size_t>(2, typed.size() / 4) + 1;
    for (const std::string& name : options.names) {
        if (!name.starts_with("--")) continue;
        const std::size_t distance = edit_distance(typed, name);
        // A prefix of one option only ("--rename-page") is what was meant as well.
        const bool prefix = name.starts_with(typed) && typed.size() > 3;
        if (distance < best_distance || (prefix && best.empty())) {
            best = name;
            best_distance = prefix ? 1 : distance;
        }
    }
    return best;
}

std::string message(const std::string& typed, const std::string& suggestion) {
    return "unknown option '" + typed + "'" + (suggestion.empty() ? "" : "; did you mean '" + suggestion + "'?");
}
}  // namespace

std::optional<std::string> unknown_option(const std::vector<std::string>& args, const option_names_t& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") return std::nullopt;
        if (arg.size() < 2 || arg[0] != '-') continue;
        if (arg.starts_with("--")) {
            const std::string name = arg.substr(0, arg.find('='));
            if (!known(options, name)) return message(name, nearest(options, name));
            if (takes_value(options, name) && name.size() == arg.size()) ++i;
            continue;
        }
        // Short options cluster ("-qk"); one that takes a value ends the cluster ("-j4").
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const std::string name = std::string("-") + arg[at];
            if (!known(options, name)) return message(name, "");
            if (takes_value(options, name)) {
                if (at + 1 == arg.size()) ++i;
                break;
            }
        }
    }
    return std::nullopt;
}
