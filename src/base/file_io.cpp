#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/messages.h"

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

// Writes everything, retrying short writes and interruptions.
bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
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

}  // namespace

bool write_file_direct(const std::string& path, std::string_view bytes,
                       std::string_view open_failure_format, std::string_view write_failure_format,
                       Messages& messages) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        messages.error_with_system(format_message(open_failure_format, path), errno);
        return false;
    }
    bool ok = write_all(fd, bytes);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(path.c_str());
        messages.error_with_system(format_message(write_failure_format, path), err);
    }
    return ok;
}

bool sync_folder(const std::string& path, int& error) {
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    int fd = ::open((dir.empty() ? std::string(".") : dir.string()).c_str(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool ok = ::syncfs(fd) == 0;
    error = ok ? 0 : errno;
    ::close(fd);
    return ok;
}

bool can_create_beside(const std::string& path, int& error) {
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    std::string probe =
        (dir.empty() ? std::filesystem::path(".") : dir).string() + "/.tessara-probe-XXXXXX";
    int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        error = errno;
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    error = 0;
    return true;
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
    fs::path dir = target.parent_path();
    std::string temp = (dir.empty() ? fs::path(".") : dir).string() + "/." +
                       target.filename().string() + ".tessara-XXXXXX";

    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        messages.error_with_system(format_message(open_failure_format, path), errno);
        return false;
    }
    // Keep the permissions of the file being replaced; a new file gets the usual 0666 less the
    // umask, as an ordinary create would give it.
    struct stat st {};
    mode_t mode;
    if (::stat(target.c_str(), &st) == 0) {
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
        messages.error_with_system(format_message(write_failure_format, path), err);
        return false;
    };
    if (::fchmod(fd, mode) != 0 || !write_all(fd, bytes) || ::fsync(fd) != 0) {
        return fail(errno);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        messages.error_with_system(format_message(write_failure_format, path), err);
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        messages.error_with_system(format_message(write_failure_format, path), err);
        return false;
    }
    // Make the rename itself durable.
    int dfd =
        ::open((dir.empty() ? std::string(".") : dir.string()).c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace tessara::base
