#pragma once

#include <string>
#include <string_view>

namespace tessara::base {
class Messages;
}

namespace tessara::script {

class Script;
struct ConversionSettings;
struct ReadOptions;

extern const char* const kInvalidSettingsFileText;

// Reads an old ".tsraconf" settings file (INI form) over a copy of `settings`; only on success
// is the copy taken over. `source_file` receives the script the file names ("SourceFile").
bool read_old_settings_file(const std::string& path, ConversionSettings& settings,
                            std::string& source_file, base::Messages& messages);

// The same for the bytes of such a file.
bool read_old_settings_bytes(std::string_view bytes, ConversionSettings& settings,
                             std::string& source_file, base::Messages& messages);

// Whether the path names an old settings file (extension ".tsraconf" in any case).
bool is_old_settings_path(const std::string& path);

// Opens a document the way the main window does: a ".tsraconf" path reads the settings file
// first and then the script it names (without resetting the settings, and marks the document
// modified); any other path loads as a script. A failure leaves an empty document.
bool open_document(Script& script, const std::string& path, const ReadOptions& options,
                   base::Messages& messages);

}  // namespace tessara::script
