#include <iostream>
#include <string>
#include <vector>

#include "base/preferences.h"
#include "base/text.h"
#include "base/version.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/usage.h"
#include "document/document.h"
#include "script/settings.h"

namespace tessara::cli {

const base::Preferences& preferences() {
    static const base::IniFilePreferences prefs(base::IniFilePreferences::default_path());
    return prefs;
}

bool open_for_command(const std::string& path, const GlobalOptions& options,
                      document::Document& document, CliMessages& messages) {
    if (!document.open(path, &preferences(), messages)) {
        return false;
    }
    // Already checked against the table before loading; a value could still depend on the
    // loaded settings, so the result is checked again.
    if (auto refused = document.apply_settings(options.sets, messages)) {
        throw UsageError{"invalid value for setting " + refused->first + ": " + refused->second};
    }
    return true;
}

namespace {

int run_command(const std::string& command, const std::vector<std::string>& rest,
                const GlobalOptions& options);

int dispatch(std::vector<std::string> args) {
    GlobalOptions options;
    std::vector<std::string> rest;
    bool help = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            help = true;
            continue;
        }
        if (a == "--version") {
            std::cout << "tessara " << base::kVersion << "\n";
            return kExitOk;
        }
        if (a == "--yes") {
            options.yes = true;
        } else if (a == "--quiet") {
            options.quiet = true;
        } else if (a == "--set" || a.rfind("--set=", 0) == 0) {
            std::string kv;
            if (a == "--set") {
                if (i + 1 >= args.size())
                    throw UsageError{"--set needs KEY=VALUE"};
                kv = args[++i];
            } else {
                kv = a.substr(6);
            }
            size_t eq = kv.find('=');
            if (eq == std::string::npos || eq == 0) {
                throw UsageError{"--set needs KEY=VALUE, got '" + kv + "'"};
            }
            std::string key = kv.substr(0, eq);
            std::string value = kv.substr(eq + 1);
            if (!script::is_setting_key(base::utf8_to_utf16(key))) {
                throw UsageError{"unknown setting " + key};
            }
            script::ConversionSettings scratch;
            if (!script::apply_setting(scratch, base::utf8_to_utf16(key),
                                       base::utf8_to_utf16(value))) {
                throw UsageError{"invalid value for setting " + key + ": " + value};
            }
            options.sets.emplace_back(key, value);
        } else if (rest.empty() && a.size() > 1 && a[0] == '-') {
            throw UsageError{"unknown option " + a};
        } else {
            rest.push_back(a);
        }
    }
    if (help) {
        // "tessara COMMAND --help" describes that command; anything else gets the whole usage.
        const CommandUsage* usage = rest.empty() ? nullptr : find_command_usage(rest.front());
        std::cout << (usage ? usage->help : program_usage());
        return kExitOk;
    }
    if (rest.empty()) {
        throw UsageError{"no command given"};
    }
    const std::string command = rest.front();
    rest.erase(rest.begin());
    if (find_command_usage(command) == nullptr) {
        throw UsageError{"unknown command '" + command + "'"};
    }
    try {
        return run_command(command, rest, options);
    } catch (UsageError& e) {
        e.command = command;
        throw;
    }
}

int run_command(const std::string& command, const std::vector<std::string>& rest,
                const GlobalOptions& options) {
    if (command == "info") {
        return run_info(rest, options);
    }
    if (command == "import") {
        return run_import(rest, options);
    }
    if (command == "save") {
        return run_save(rest, options);
    }
    if (command == "tool") {
        return run_tool(rest, options);
    }
    if (command == "render") {
        return run_render(rest, options);
    }
    if (command == "timeline") {
        return run_timeline(rest, options);
    }
    if (command == "feed") {
        return run_feed(rest, options);
    }
    if (command == "generate") {
        return run_generate(rest, options);
    }
    if (command == "verify") {
        return run_verify(rest, options);
    }
    if (command == "export") {
        return run_export(rest, options);
    }
    if (command == "check-segments") {
        return run_check_segments(rest, options);
    }
    throw UsageError{"unknown command '" + command + "'"};
}

}  // namespace

}  // namespace tessara::cli

int main(int argc, char** argv) {
    using namespace tessara::cli;
    try {
        return dispatch(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        const CommandUsage* usage = e.command.empty() ? nullptr : find_command_usage(e.command);
        std::cerr << "tessara: " << e.text << '\n'
                  << (usage ? usage->synopsis : program_synopsis()) << '\n'
                  << "Run 'tessara " << (usage ? e.command + " " : std::string())
                  << "--help' for more.\n";
        return kExitUsage;
    }
}
