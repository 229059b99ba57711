#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace tessara::base {

class Messages;

// Reads a whole file. On failure `error` receives the errno value and nothing is returned.
std::optional<std::string> read_whole_file(const std::string& path, int& error);

// Replaces `path` with `bytes` so that the file is either the old one or the complete new one,
// never a mixture: the bytes go to a temporary file in the same folder, which is flushed to disk
// and renamed over the target (keeping the target's permission bits). On failure the target is
// untouched, the temporary file is removed and the program's message is reported:
// open_failure_format when the file cannot be created, write_failure_format when writing,
// syncing or replacing fails, each with one %s for the path and followed by the system's text.
// A target that exists and is neither a regular file nor a folder (a device such as /dev/stdout,
// a pipe) cannot be replaced: the bytes are written into it, and it is never removed.
bool write_file_atomically(const std::string& path, std::string_view bytes,
                           std::string_view open_failure_format,
                           std::string_view write_failure_format, Messages& messages);

// Writes `bytes` to `path` directly (created or truncated), for the many generated files of a
// run where a temporary file and a rename per file would cost more than the writing. Every
// write and the close are checked; on failure the partial file is removed (only ever a regular
// file: a device or pipe under the name stays), so a file under the name is always complete,
// and the messages are as for write_file_atomically. The data is not synced: call
// sync_folder() once after the last file.
bool write_file_direct(const std::string& path, std::string_view bytes,
                       std::string_view open_failure_format, std::string_view write_failure_format,
                       Messages& messages);

// Flushes everything written to the file system holding `path` to disk; false with `error`
// set when the system reports that earlier writes failed.
bool sync_folder(const std::string& path, int& error);

// The folder a path's file is in: its parent, "." for a bare name.
std::string folder_of(const std::string& path);
// Makes the renames and removals made in `folder` ("" is ".") durable; best effort.
void flush_folder_entries(const std::string& folder);

// The system calls that put file contents on disk. Tests replace them to make any one of them
// fail (a full disk, an I/O error, a short write); the program never changes them.
struct FileIoCalls {
    ssize_t (*write)(int fd, const void* data, size_t size);
    int (*fsync)(int fd);
};
// Installs `calls` for every later write of this file layer and returns the ones replaced.
// Tests only; not thread-safe.
FileIoCalls set_file_io_calls_for_testing(FileIoCalls calls);

// Replaces the first "%s" of a message format with `arg`.
std::string format_message(std::string_view format, std::string_view arg);

}  // namespace tessara::base
