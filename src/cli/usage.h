#pragma once

#include <string_view>

namespace tessara::cli {

// What `tessara COMMAND --help` prints, and the one-line synopsis shown after a usage error.
struct CommandUsage {
    std::string_view name;
    std::string_view synopsis;  // "tessara info SCRIPT [--json]"; several forms on several lines
    std::string_view help;      // what it reads and writes, its options and an example
};

// The usage of a command by name; null for a name that is not a command.
const CommandUsage* find_command_usage(std::string_view name);

// `tessara --help`.
std::string_view program_usage();

// The short line shown after a usage error that names no known command.
std::string_view program_synopsis();

}  // namespace tessara::cli
