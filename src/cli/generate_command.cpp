#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "document/document.h"

namespace tessara::cli {

int run_generate(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    std::optional<std::string> output;
    bool bitmaps = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size())
                throw UsageError{"generate: " + a + " needs a path"};
            output = args[++i];
        } else if (a == "--no-bitmaps") {
            bitmaps = false;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"generate: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"generate takes one SCRIPT"};
        }
    }
    if (path.empty()) {
        throw UsageError{"generate needs a SCRIPT"};
    }
    CliMessages messages(options.yes);
    document::Document document;
    if (!open_for_command(path, options, document, messages)) {
        return kExitFailed;
    }
    document.set_skip_bitmaps(!bitmaps);
    CliProgress progress(options.quiet);
    output::GenerationSummary summary;
    if (!document.generate(output, &progress, messages, summary)) {
        return kExitFailed;
    }
    std::cout << "wrote " << summary.subpictures << " subpictures";
    std::cout << (bitmaps ? " with " + std::to_string(summary.bitmaps) + " bitmaps"
                          : std::string(" (no bitmaps)"));
    std::cout << ", " << summary.palette_entries << " palette entries used; script ";
    for (size_t i = 0; i < summary.scripts.size(); ++i) {
        std::cout << (i > 0 ? ", " : "") << summary.scripts[i];
    }
    if (!summary.companions.empty()) {
        std::cout << "; pictures in ";
        for (size_t i = 0; i < summary.companions.size(); ++i) {
            std::cout << (i > 0 ? ", " : "") << summary.companions[i];
        }
    }
    if (bitmaps && summary.bitmaps > 0) {
        std::cout << "; bitmaps " << document.bitmap_name_pattern();
    }
    if (!summary.palette_file.empty()) {
        std::cout << "; palette " << summary.palette_file;
    }
    std::cout << '\n';
    return kExitOk;
}

}  // namespace tessara::cli
