#include <iostream>
#include <optional>
#include <string>

#include "base/file_io.h"
#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "document/document.h"
#include "document/verify_source.h"

namespace tessara::cli {

int run_verify(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string output;
    std::optional<std::string> source;
    output::VerifyOptions verify;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--script") {
            if (i + 1 >= args.size())
                throw UsageError{"verify: --script needs a path"};
            source = args[++i];
        } else if (a == "--mux") {
            verify.mux = true;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"verify: unknown option " + a};
        } else if (output.empty()) {
            output = a;
        } else {
            throw UsageError{"verify takes one OUTPUT"};
        }
    }
    if (output.empty()) {
        throw UsageError{"verify needs an OUTPUT"};
    }
    // OUTPUT may be the script itself, whose settings name the output.
    std::optional<std::string> output_path = output;
    if (!source && document::is_source_path(output)) {
        source = output;
        output_path.reset();
    }
    CliMessages messages(options.yes);
    if (!source) {
        const auto found = document::scripts_naming_output(output);
        if (found.size() != 1) {
            messages.error(base::format_message(
                found.empty() ? document::kNoSourceFormat : document::kManySourcesFormat, output));
            return kExitFailed;
        }
        source = found.front();
    }
    document::Document document;
    if (!open_for_command(*source, options, document, messages)) {
        return kExitFailed;
    }
    CliProgress progress(options.quiet);
    verify.progress = &progress;
    output::VerifyReport report;
    const bool checked = document.verify(output_path, verify, messages, report);
    if (!checked) {
        return kExitFailed;
    }
    for (const std::string& line : report.mismatches) {
        std::cout << line << '\n';
    }
    for (const std::string& note : report.notes) {
        std::cout << "note: " << note << '\n';
    }
    std::cout << report.summary() << '\n';
    return report.all_match() ? kExitOk : kExitFailed;
}

}  // namespace tessara::cli
