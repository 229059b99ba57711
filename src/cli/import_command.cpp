#include <iostream>
#include <optional>
#include <string>

#include "base/text.h"
#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "document/import.h"
#include "script/codepage.h"

namespace tessara::cli {

int run_import(const std::vector<std::string>& args, const GlobalOptions& options) {
    std::string path;
    std::optional<std::string> output;
    script::AssImportOptions import;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw UsageError{"import: " + a + " needs a value"};
            }
            return args[++i];
        };
        if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--utf8") {
            import.utf8 = true;
        } else if (a == "--code-page") {
            const std::string text = value();
            auto n = base::parse_int_exact(base::utf8_to_utf16(text));
            if (!n || *n <= 0 || !script::is_valid_code_page(*n)) {
                throw UsageError{"import: --code-page needs a code page number, got '" + text +
                                 "'"};
            }
            import.code_page = *n;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError{"import: unknown option " + a};
        } else if (path.empty()) {
            path = a;
        } else {
            throw UsageError{"import takes one SCRIPT"};
        }
    }
    if (path.empty()) {
        throw UsageError{"import needs an ASS SCRIPT"};
    }
    const std::string target = output ? *output : document::imported_script_path(path);
    CliMessages messages(options.yes);
    auto report = document::import_ass_file(path, target, import, messages);
    if (!report) {
        return kExitFailed;
    }
    std::cout << script::import_report_text(*report) << "imported " << target << '\n';
    return kExitOk;
}

}  // namespace tessara::cli
