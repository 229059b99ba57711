#include "document/import.h"

#include <filesystem>
#include <system_error>

#include "base/file_io.h"
#include "base/messages.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"

namespace tessara::document {

const char* const kNotAssFormat =
    "%s is not an ASS (V4+) script: it has no [V4+ Styles] section.\nAn SSA V4 script is opened "
    "as it is.";
const char* const kImportSamePathText =
    "The SSA script would replace the ASS script it comes from.\nChoose another name for it.";
const char* const kImportReplaceFormat = "%s already exists.\nReplace it with the imported script?";
const char* const kImportUnreadableFormat =
    "The imported script could not be read back, so it was not written:\n%s";

const char* const kOfferImportFormat =
    "%s is an ASS (V4+) script.\nTessara reads SSA V4 scripts: import it into a new SSA script?";

bool is_ass_file(const std::string& path) {
    int error = 0;
    std::optional<std::string> bytes = base::read_whole_file(path, error);
    return bytes && script::is_ass_script(*bytes);
}

std::string imported_script_path(const std::string& ass_path) {
    return std::filesystem::path(ass_path).replace_extension(".ssa").string();
}

std::optional<script::AssImportReport> import_ass_file(const std::string& ass_path,
                                                       const std::string& ssa_path,
                                                       const script::AssImportOptions& options,
                                                       base::Messages& messages,
                                                       bool replace_confirmed) {
    int error = 0;
    std::optional<std::string> bytes = base::read_whole_file(ass_path, error);
    if (!bytes) {
        messages.file_error(ass_path, "", error);
        return std::nullopt;
    }
    if (!script::is_ass_script(*bytes)) {
        messages.error(base::format_message(kNotAssFormat, ass_path));
        return std::nullopt;
    }
    std::error_code ec;
    if (std::filesystem::equivalent(ass_path, ssa_path, ec)) {
        messages.error(kImportSamePathText);
        return std::nullopt;
    }
    script::AssImport imported = script::import_ass(*bytes, options);

    script::Script check;
    base::RecordingMessages reading;
    if (!script::read_script_bytes(check, imported.bytes, {}, {}, reading)) {
        const auto texts = reading.texts();
        messages.error(base::format_message(kImportUnreadableFormat,
                                            texts.empty() ? std::string() : texts.back()));
        return std::nullopt;
    }
    if (!replace_confirmed && std::filesystem::exists(ssa_path, ec) &&
        messages.ask(base::format_message(kImportReplaceFormat, ssa_path), base::AskKind::YesNo) !=
            base::Answer::Yes) {
        return std::nullopt;
    }
    if (!base::write_file_atomically(ssa_path, imported.bytes, script::kSaveOpenErrorFormat,
                                     script::kSaveWriteErrorFormat, messages)) {
        return std::nullopt;
    }
    return std::move(imported.report);
}

}  // namespace tessara::document
