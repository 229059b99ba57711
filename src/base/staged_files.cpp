#include "base/staged_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/file_io.h"
#include "base/messages.h"

namespace tessara::base {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kStagingPrefix = ".tessara-run-";
constexpr std::string_view kLockName = "lock";
constexpr std::string_view kTempMarker = ".tessara-";
constexpr size_t kRandomSuffix = 6;  // mkstemp's XXXXXX

const char* const kTargetLostFormat =
    "%s could not be put back after a failed run; the earlier output is incomplete.";

// Whether nobody holds the lock of the file at `path` (it can then be taken without waiting).
// A file that is not there holds no lock; one that cannot be opened counts as held.
bool lock_is_free(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// ".NAME.tessara-XXXXXX" of write_file_atomically and ".tessara-probe-XXXXXX".
bool is_temporary_name(std::string_view name) {
    if (name.size() < 1 + kTempMarker.size() + kRandomSuffix || name[0] != '.') {
        return false;
    }
    const size_t marker = name.size() - kRandomSuffix - kTempMarker.size();
    if (name.substr(marker, kTempMarker.size()) == kTempMarker) {
        return true;
    }
    return name.rfind(".tessara-probe-", 0) == 0 && name.size() == 15 + kRandomSuffix;
}

}  // namespace

StagedFiles::~StagedFiles() {
    if (m_dir.empty()) {
        return;
    }
    std::error_code ec;
    fs::remove_all(m_dir, ec);
    ::close(m_lock);
}

bool StagedFiles::open(const std::string& prefix, int& error) {
    std::string dir = prefix + std::string(kStagingPrefix) + "XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        error = errno;
        return false;
    }
    // The lock tells a later run's clean-up that this folder is still in use.
    const std::string lock = dir + "/" + std::string(kLockName);
    int fd = ::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        std::error_code ec;
        fs::remove_all(dir, ec);
        return false;
    }
    m_prefix = prefix;
    m_dir = dir;
    m_lock = fd;
    error = 0;
    return true;
}

std::string StagedFiles::staged_path(std::string_view name) const {
    return m_dir + "/new-" + std::string(name);
}

std::string StagedFiles::old_path(size_t index) const {
    return m_dir + "/old-" + std::to_string(index);
}

void StagedFiles::add(const std::string& name, std::string_view failure_text, bool last) {
    // Writing through a symbolic link replaces the file it points to and keeps the link.
    const std::string target = target_path(name);
    std::string resolved = target;
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path real = fs::weakly_canonical(target, ec);
        if (!ec) {
            resolved = real.string();
        }
    }
    m_entries.push_back(Entry{name, resolved, std::string(failure_text), last});
}

bool StagedFiles::move_old_away(size_t index, const struct stat& st, Messages& messages) {
    Entry& e = m_entries[index];
    // The new file keeps the permissions (and, where allowed, the owner) of the one it replaces.
    const std::string staged = staged_path(e.name);
    ::chmod(staged.c_str(), st.st_mode & 07777);
    [[maybe_unused]] int ignored = ::chown(staged.c_str(), st.st_uid, st.st_gid);
    if (::rename(e.target.c_str(), old_path(index).c_str()) != 0) {
        messages.file_error(e.target, e.failure_text, errno);
        return false;
    }
    e.had_old = true;
    return true;
}

bool StagedFiles::place(size_t index, Messages& messages) {
    Entry& e = m_entries[index];
    struct stat st {};
    if (::lstat(e.target.c_str(), &st) == 0) {
        // Only a file is replaced; a folder, device or link under a target's name stops the
        // commit before it touches anything of it.
        if (!S_ISREG(st.st_mode)) {
            messages.file_error(e.target, e.failure_text, S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
            return false;
        }
        if (!move_old_away(index, st, messages)) {
            return false;
        }
    } else if (errno != ENOENT) {
        messages.file_error(e.target, e.failure_text, errno);
        return false;
    }
    if (::rename(staged_path(e.name).c_str(), e.target.c_str()) != 0) {
        const int error = errno;
        if (e.had_old && ::rename(old_path(index).c_str(), e.target.c_str()) == 0) {
            e.had_old = false;
        }
        messages.file_error(e.target, e.failure_text, error);
        return false;
    }
    e.placed = true;
    return true;
}

void StagedFiles::undo(Messages& messages) {
    for (size_t i = m_entries.size(); i-- > 0;) {
        Entry& e = m_entries[i];
        if (e.placed) {
            ::rename(e.target.c_str(), staged_path(e.name).c_str());
            e.placed = false;
        }
        if (e.had_old) {
            if (::rename(old_path(i).c_str(), e.target.c_str()) != 0) {
                messages.error(format_message(kTargetLostFormat, e.target));
            }
            e.had_old = false;
        }
    }
}

bool StagedFiles::commit(Messages& messages) {
    // The staged files were written without a sync each: one sync of the file system makes
    // them durable before any of them takes a target's place.
    int error = 0;
    if (!sync_folder(staged_path("x"), error)) {
        const Entry* first = m_entries.empty() ? nullptr : &m_entries.front();
        messages.file_error(first ? first->target : m_dir, first ? first->failure_text : "", error);
        return false;
    }
    // The files that name the others leave first and come back last.
    for (size_t i = 0; i < m_entries.size(); ++i) {
        Entry& e = m_entries[i];
        if (!e.last) {
            continue;
        }
        struct stat st {};
        if (::lstat(e.target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;  // absent, or not a file: place() reports it in turn
        }
        if (!move_old_away(i, st, messages)) {
            undo(messages);
            return false;
        }
    }
    for (bool last : {false, true}) {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            Entry& e = m_entries[i];
            if (e.last != last) {
                continue;
            }
            // A target moved out of the way above is no longer there: place() only renames.
            if (!place(i, messages)) {
                undo(messages);
                return false;
            }
        }
    }
    // The renames themselves made durable.
    flush_folder_entries(folder_of(m_dir));
    for (Entry& e : m_entries) {
        e.placed = false;
        e.had_old = false;
    }
    return true;
}

std::string StagedFiles::TargetMessages::targets(std::string_view text) const {
    const std::string staged = m_staged.staged_path("");
    std::string out(text);
    for (size_t p = out.find(staged); p != std::string::npos;
         p = out.find(staged, p + m_staged.m_prefix.size())) {
        out.replace(p, staged.size(), m_staged.m_prefix);
    }
    return out;
}

void remove_leftovers(const std::string& folder, std::chrono::system_clock::time_point started) {
    using namespace std::chrono;
    const auto started_ns = duration_cast<nanoseconds>(started.time_since_epoch()).count();
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    if (ec) {
        return;
    }
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        const bool staging = name.rfind(kStagingPrefix, 0) == 0 &&
                             name.size() == kStagingPrefix.size() + kRandomSuffix;
        if (!staging && !is_temporary_name(name)) {
            continue;
        }
        struct stat st {};
        const std::string path = entry.path().string();
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        const int64_t modified_ns =
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
        if (modified_ns >= started_ns) {
            continue;
        }
        if (staging && S_ISDIR(st.st_mode) && lock_is_free(path + "/" + std::string(kLockName))) {
            fs::remove_all(path, ec);
        } else if (!staging && S_ISREG(st.st_mode) && lock_is_free(path)) {
            ::unlink(path.c_str());
        }
    }
}

}  // namespace tessara::base
