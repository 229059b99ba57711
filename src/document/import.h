#pragma once

#include <optional>
#include <string>

#include "script/ass_import.h"

namespace tessara::base {
class Messages;
}

namespace tessara::document {

extern const char* const kNotAssFormat;            // %s: the file
extern const char* const kImportSamePathText;      // the SSA file would replace the ASS one
extern const char* const kImportReplaceFormat;     // %s: the SSA file that exists
extern const char* const kImportUnreadableFormat;  // %s: the reader's message
extern const char* const kOfferImportFormat;       // %s: the ASS file being opened

// Whether the file at `path` holds an ASS script (false when it cannot be read: opening it
// then reports why).
bool is_ass_file(const std::string& path);

// Where an imported script goes unless the user says otherwise: the ASS file's name with ".ssa".
std::string imported_script_path(const std::string& ass_path);

// Imports the ASS script at `ass_path` into an SSA V4 script at `ssa_path`. The new script is
// read back with the reader's own rules before anything is written, and an existing file at
// `ssa_path` is replaced only when the user agrees (asked here unless `replace_confirmed`, when
// a file dialog has asked already) and only once the new one is complete. Nothing on failure
// (the message has been reported).
std::optional<script::AssImportReport> import_ass_file(const std::string& ass_path,
                                                       const std::string& ssa_path,
                                                       const script::AssImportOptions& options,
                                                       base::Messages& messages,
                                                       bool replace_confirmed = false);

}  // namespace tessara::document
