#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tessara::base {
class Preferences;
}
namespace tessara::document {
class Document;
}

namespace tessara::cli {

class CliMessages;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Options that every command takes.
struct GlobalOptions {
    std::vector<std::pair<std::string, std::string>> sets;  // --set KEY=VALUE, in order
    bool yes = false;
    bool quiet = false;
};

// Thrown for a usage error; main prints it with the usage hint and exits with 2.
struct UsageError {
    explicit UsageError(std::string t) : text(std::move(t)) {}

    std::string text;
    std::string command;  // the command whose synopsis is shown with the error; set by dispatch
};

// Opens SCRIPT as the main window does (a .tsraconf path reads the settings file first) and
// applies the --set values. False when loading failed (the message has been printed).
bool open_for_command(const std::string& path, const GlobalOptions& options,
                      document::Document& document, CliMessages& messages);
// The user's preferences, read (never written) from the desktop program's settings file.
const base::Preferences& preferences();

int run_info(const std::vector<std::string>& args, const GlobalOptions& options);
int run_import(const std::vector<std::string>& args, const GlobalOptions& options);
int run_save(const std::vector<std::string>& args, const GlobalOptions& options);
int run_tool(const std::vector<std::string>& args, const GlobalOptions& options);
int run_render(const std::vector<std::string>& args, const GlobalOptions& options);
int run_timeline(const std::vector<std::string>& args, const GlobalOptions& options);
int run_generate(const std::vector<std::string>& args, const GlobalOptions& options);
int run_export(const std::vector<std::string>& args, const GlobalOptions& options);
int run_check_segments(const std::vector<std::string>& args, const GlobalOptions& options);
int run_verify(const std::vector<std::string>& args, const GlobalOptions& options);
int run_feed(const std::vector<std::string>& args, const GlobalOptions& options);

}  // namespace tessara::cli
