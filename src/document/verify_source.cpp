#include "document/verify_source.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/messages.h"
#include "base/text.h"
#include "document/document.h"
#include "formats/script_types.h"

namespace tessara::document {

namespace fs = std::filesystem;

const char* const kNoSourceFormat =
    "No script beside %s names it as its output file; name the script with --script.";
const char* const kManySourcesFormat =
    "More than one script beside %s names it as its output file; choose one with --script.";

namespace {

std::string lower_extension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

fs::path absolute_of(const fs::path& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : p;
}

}  // namespace

bool is_source_path(const std::string& path) {
    const std::string ext = lower_extension(fs::path(path));
    return ext == ".ssa" || ext == ".tsraconf";
}

std::vector<std::string> scripts_naming_output(const std::string& output) {
    std::vector<std::string> found;
    const fs::path target = absolute_of(fs::path(output));
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(target.parent_path(), ec)) {
        const std::string path = item.path().string();
        if (!item.is_regular_file(ec) || !is_source_path(path)) {
            continue;
        }
        Document document;
        base::SilentMessages quiet;
        if (!document.open(path, nullptr, quiet)) {
            continue;
        }
        const auto& settings = document.script().settings;
        const std::u16string named =
            formats::fit_output_path(settings.output_file, settings.scr_type);
        if (!named.empty() && absolute_of(fs::path(base::utf16_to_utf8(named))) == target) {
            found.push_back(path);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace tessara::document
