#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "formats/script_types.h"
#include "imaging/image_types.h"
#include "output/generation.h"
#include "script/script.h"

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
    script::Script script;
    if (!open_for_command(path, options, script, messages)) {
        return kExitFailed;
    }
    auto& settings = script.settings;
    if (output) {
        settings.output_file = base::utf8_to_utf16(*output);
    } else {
        // The script type may have been changed with --set: the output name follows it, as it
        // does when the type is chosen in the program.
        settings.output_file = formats::fit_output_path(settings.output_file, settings.scr_type);
    }

    CliProgress progress(options.quiet);
    output::GenerationOptions run_options;
    run_options.generate_bitmaps = bitmaps;
    run_options.progress = &progress;
    output::GenerationSummary summary;
    const bool ok = output::run_generation(script, run_options, messages, summary);
    if (!ok) {
        return kExitFailed;
    }
    const auto names = output::derive_output_names(settings.output_file);
    std::cout << "wrote " << summary.subpictures << " subpictures";
    std::cout << (bitmaps ? " with " + std::to_string(summary.bitmaps) + " bitmaps"
                          : std::string(" (no bitmaps)"));
    std::cout << ", " << summary.palette_entries << " palette entries used; script ";
    for (size_t i = 0; i < summary.scripts.size(); ++i) {
        std::cout << (i > 0 ? ", " : "") << summary.scripts[i];
    }
    if (bitmaps && summary.bitmaps > 0) {
        std::cout << "; bitmaps " << base::utf16_to_utf8(names.directory + names.bitmap_title)
                  << "_NNNN."
                  << imaging::image_type_extension(imaging::image_type_id(settings.img_type));
    }
    if (!summary.palette_file.empty()) {
        std::cout << "; palette " << summary.palette_file;
    }
    std::cout << '\n';
    return kExitOk;
}

}  // namespace tessara::cli
