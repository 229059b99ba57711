#pragma once

#include <optional>
#include <string>

namespace tessara::base {
class Messages;
}

namespace tessara::script {

class Script;

extern const char* const kSaveOpenErrorFormat;          // "Error opening %s"
extern const char* const kSaveWriteErrorFormat;         // "Error writing to %s"
extern const char* const kUnencodableLineFormat;        // one %d: the line number
extern const char* const kLineTooLongToSaveFormat;      // one %d: the line number
extern const char* const kUnpairedSurrogateLineFormat;  // one %d: the line number

// The bytes of the saved script: every kept line in order (deleted lines left out) with CR LF
// line ends, the settings lines right after the first events anchor, each TSRAUSER line right
// before its Dialogue line. A Unicode script is written as its file was read: UTF-16LE with the
// FF FE mark, or UTF-8 with or without the EF BB BF mark; an 8-bit script holds one byte per
// character. Nothing when an 8-bit line holds a character its code page cannot store, when a
// UTF-8 line holds half of a surrogate pair, or when a line would be too long for the reader to
// load it again (each reported through `messages`): a file is never written that could not be
// opened again.
std::optional<std::string> serialize_script(const Script& script, base::Messages& messages);

// Saves the script to `path`, or to its source path when none is given. The file is replaced
// only once the new content is completely on disk; on any failure the old file is untouched
// and the message is reported. On success the path becomes the source path and the
// settings-seen flag is set.
bool save_script(Script& script, const std::optional<std::string>& path, base::Messages& messages);

}  // namespace tessara::script
