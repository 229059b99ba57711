#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "document/document.h"

namespace tessara::cli {

namespace {

struct ScriptArgs {
    std::string path;
    std::optional<std::string> output;
    std::optional<std::string> fps;
};

ScriptArgs parse_script_args(const std::vector<std::string>& args, const char* command,
                             bool takes_fps) {
    ScriptArgs out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw UsageError{std::string(command) + ": " + a + " needs a value"};
            }
            return args[++i];
        };
        if (a == "-o" || a == "--output") {
            out.output = value();
        } else if (takes_fps && a == "--fps") {
            out.fps = value();
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{std::string(command) + ": unknown option " + a};
        } else if (out.path.empty()) {
            out.path = a;
        } else {
            throw UsageError{std::string(command) + " takes one SCRIPT"};
        }
    }
    if (out.path.empty()) {
        throw UsageError{std::string(command) + " needs a SCRIPT"};
    }
    return out;
}

int save(document::Document& document, const std::optional<std::string>& output,
         CliMessages& messages) {
    if (!(output ? document.save_as(*output, messages) : document.save(messages))) {
        return kExitFailed;
    }
    std::cout << "saved " << base::utf16_to_utf8(document.source_path()) << '\n';
    return kExitOk;
}

}  // namespace

int run_save(const std::vector<std::string>& args, const GlobalOptions& options) {
    ScriptArgs a = parse_script_args(args, "save", false);
    CliMessages messages(options.yes);
    document::Document document;
    if (!open_for_command(a.path, options, document, messages)) {
        return kExitFailed;
    }
    return save(document, a.output, messages);
}

int run_tool(const std::vector<std::string>& args, const GlobalOptions& options) {
    if (args.empty()) {
        throw UsageError{"tool needs one of snap, quotes, unicode, separate"};
    }
    const std::string tool = args.front();
    if (tool != "snap" && tool != "quotes" && tool != "unicode" && tool != "separate") {
        throw UsageError{"unknown tool '" + tool + "' (snap, quotes, unicode, separate)"};
    }
    ScriptArgs a = parse_script_args(std::vector<std::string>(args.begin() + 1, args.end()), "tool",
                                     tool == "snap");
    CliMessages messages(options.yes);
    document::Document document;
    if (!open_for_command(a.path, options, document, messages)) {
        return kExitFailed;
    }
    const document::Tool which = tool == "snap"       ? document::Tool::Snap
                                 : tool == "separate" ? document::Tool::Separate
                                 : tool == "quotes"   ? document::Tool::Quotes
                                                      : document::Tool::Unicode;
    switch (document.run_tool(which, a.fps, messages)) {
        case script::ToolOutcome::Failed:
            return kExitFailed;
        case script::ToolOutcome::Cancelled:
            std::cerr << "nothing was changed\n";
            return kExitFailed;
        case script::ToolOutcome::Unchanged:
            if (options.sets.empty()) {
                std::cerr << "nothing to change; the script was not written\n";
                return kExitOk;
            }
            [[fallthrough]];
        case script::ToolOutcome::Changed:
            break;
    }
    return save(document, a.output, messages);
}

}  // namespace tessara::cli
