#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "document/document.h"
#include "formats/text_exports.h"

namespace tessara::cli {

namespace {

struct ExportChoice {
    const char* name;
    formats::TextExportKind kind;
    bool film;
};

constexpr ExportChoice kExports[] = {
    {"srt", formats::TextExportKind::Srt, false},
    {"captions", formats::TextExportKind::CaptionsInc, false},
    {"dialogue", formats::TextExportKind::Dialogue, false},
    {"film", formats::TextExportKind::Dialogue, true},
    {"chi", formats::TextExportKind::Chi, false},
};

// Report texts meant for a dialog box, with CR LF, as terminal lines.
std::string terminal_text(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    if (out.empty() || out.back() != '\n') {
        out += '\n';
    }
    return out;
}

}  // namespace

int run_export(const std::vector<std::string>& args, const GlobalOptions& options) {
    const ExportChoice* choice = nullptr;
    std::string path;
    std::optional<std::string> output;
    std::optional<std::string> film_offset;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError{"export: " + a + " needs a value"};
            return args[++i];
        };
        if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--film-offset") {
            film_offset = value();
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"export: unknown option " + a};
        } else if (choice == nullptr) {
            for (const ExportChoice& c : kExports) {
                if (a == c.name) {
                    choice = &c;
                }
            }
            if (choice == nullptr) {
                throw UsageError{"export: unknown format '" + a +
                                 "' (srt, captions, dialogue, film or chi)"};
            }
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"export takes one format and one SCRIPT"};
        }
    }
    if (choice == nullptr || path.empty()) {
        throw UsageError{
            "export needs a format (srt, captions, dialogue, film or chi) and a SCRIPT"};
    }
    if (!output) {
        throw UsageError{"export needs -o OUT"};
    }
    formats::TextExportOptions export_options;
    if (choice->film) {
        export_options.film_offset = formats::default_film_offset();
        if (film_offset) {
            auto t = script::parse_script_time(base::utf8_to_utf16(*film_offset), true, true);
            if (!t || !t->time.smpte) {
                throw UsageError{"export: Invalid SMPTE value '" + *film_offset +
                                 "' for --film-offset (HH:MM:SS:FF)"};
            }
            export_options.film_offset = t->time;
        }
    } else if (film_offset) {
        throw UsageError{"export: --film-offset is only for the film export"};
    }

    CliMessages messages(options.yes);
    document::Document document;
    if (!open_for_command(path, options, document, messages)) {
        return kExitFailed;
    }
    CliProgress progress(options.quiet);
    export_options.progress = &progress;
    formats::TextExport result;
    if (!document.export_text(choice->kind, *output, export_options, messages, result)) {
        return kExitFailed;
    }
    std::cout << "wrote " << result.entries << (result.entries == 1 ? " entry" : " entries")
              << " to " << *output << '\n';
    return kExitOk;
}

int run_check_segments(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    int64_t distance = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--distance") {
            if (i + 1 >= args.size())
                throw UsageError{"check-segments: --distance needs a number of frames"};
            auto n = base::parse_int_exact(base::utf8_to_utf16(args[++i]));
            if (!n) {
                throw UsageError{
                    "check-segments: --distance takes a whole number of frames, got '" + args[i] +
                    "'"};
            }
            distance = *n;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"check-segments: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"check-segments takes one SCRIPT"};
        }
    }
    if (path.empty()) {
        throw UsageError{"check-segments needs a SCRIPT"};
    }

    CliMessages messages(options.yes);
    document::Document document;
    if (!open_for_command(path, options, document, messages)) {
        return kExitFailed;
    }
    const auto report = document.check_segments(distance, messages);
    if (!report) {
        return kExitFailed;
    }
    std::cout << terminal_text(*report);
    return kExitOk;
}

}  // namespace tessara::cli
