#include "base/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/messages.h"
#include "base/staged_files.h"

namespace tessara::base {

std::string format_message(std::string_view format, std::string_view arg) {
    std::string out(format);
    if (size_t p = out.find("%s"); p != std::string::npos) {
        out.replace(p, 2, arg);
    }
    return out;
}

std::optional<std::string> read_whole_file(const std::string& path, int& error) {
    errno = 0;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        error = errno;
        return std::nullopt;
    }
    // C streams report a failed read (a folder opens but cannot be read) through ferror and
    // errno; C++ stream buffers would throw from inside the read instead.
    std::string bytes;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        bytes.append(buffer, n);
    }
    const bool failed = std::ferror(in) != 0;
    error = failed ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(in);
    if (failed) {
        return std::nullopt;
    }
    return bytes;
}

namespace {

FileIoCalls g_calls{::write, ::fsync};

// Longest part of the target's name taken into its temporary file's name, so that a name near
// the system's limit (255 bytes) still leaves room for the prefix and the random suffix.
constexpr size_t kMaxTempNameStem = 200;

// Writes everything, retrying short writes and interruptions.
bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = g_calls.write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Reports a failure about `path`: a format with "%s" names the file in its own text; any other
// text is reported as a message about that file.
void report_failure(Messages& messages, std::string_view format, const std::string& path,
                    int error) {
    if (format.find("%s") != std::string_view::npos) {
        messages.error_with_system(format_message(format, path), error);
    } else {
        messages.file_error(path, format, error);
    }
}

// A device or pipe standing at the target cannot be replaced by a rename (and as root the
// rename would succeed and put a plain file where the device was): the bytes are written into
// it. Opened without blocking so that a pipe nobody reads fails at once instead of hanging.
bool write_into_special(const std::string& target, const std::string& path, std::string_view bytes,
                        std::string_view open_failure_format, std::string_view write_failure_format,
                        Messages& messages) {
    int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        report_failure(messages, open_failure_format, path, errno);
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    bool ok = flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && write_all(fd, bytes);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        report_failure(messages, write_failure_format, path, err);
    }
    return ok;
}

}  // namespace

FileIoCalls set_file_io_calls_for_testing(FileIoCalls calls) {
    FileIoCalls previous = g_calls;
    g_calls = calls;
    return previous;
}

bool write_file_direct(const std::string& path, std::string_view bytes,
                       std::string_view open_failure_format, std::string_view write_failure_format,
                       Messages& messages) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        report_failure(messages, open_failure_format, path, errno);
        return false;
    }
    // Only a regular file is removed on failure: a device under the name (/dev/full) is no
    // partial file, and as root unlinking it would delete the device node.
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bool ok = write_all(fd, bytes);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        if (regular) {
            ::unlink(path.c_str());
        }
        report_failure(messages, write_failure_format, path, err);
    }
    return ok;
}

std::string folder_of(const std::string& path) {
    const std::string dir = std::filesystem::path(path).parent_path().string();
    return dir.empty() ? std::string(".") : dir;
}

void flush_folder_entries(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool sync_folder(const std::string& path, int& error) {
    int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool ok = ::syncfs(fd) == 0;
    error = ok ? 0 : errno;
    ::close(fd);
    return ok;
}

bool write_file_atomically(const std::string& path, std::string_view bytes,
                           std::string_view open_failure_format,
                           std::string_view write_failure_format, Messages& messages) {
    namespace fs = std::filesystem;
    fs::path target(path);
    // Saving through a symbolic link updates the file it points to and keeps the link.
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return write_into_special(target.string(), path, bytes, open_failure_format,
                                  write_failure_format, messages);
    }
    fs::path dir = target.parent_path();
    // What an earlier save or run that was killed left in the folder goes first.
    remove_leftovers(dir.string(), std::chrono::system_clock::now());
    std::string stem = target.filename().string().substr(0, kMaxTempNameStem);
    std::string temp = folder_of(target.string()) + "/." + stem + ".tessara-XXXXXX";

    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        report_failure(messages, open_failure_format, path, errno);
        return false;
    }
    // Held while the file is written: a later run's clean-up removes only temporary files whose
    // writer is gone.
    ::flock(fd, LOCK_EX | LOCK_NB);
    // Keep the permissions of the file being replaced; a new file gets the usual 0666 less the
    // umask, as an ordinary create would give it.
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
        // Keep the owner too where we may (as root); elsewhere this fails harmlessly.
        [[maybe_unused]] int ignored = ::fchown(fd, st.st_uid, st.st_gid);
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        report_failure(messages, write_failure_format, path, err);
        return false;
    };
    if (::fchmod(fd, mode) != 0 || !write_all(fd, bytes) || g_calls.fsync(fd) != 0) {
        return fail(errno);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        report_failure(messages, write_failure_format, path, err);
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        report_failure(messages, write_failure_format, path, err);
        return false;
    }
    // Make the rename itself durable.
    flush_folder_entries(dir.string());
    return true;
}

}  // namespace tessara::base
