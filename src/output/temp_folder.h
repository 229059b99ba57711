#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include <unistd.h>

namespace tessara::output {

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder() = default;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        if (!m_path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_path, ec);
        }
    }

    // False when no folder could be made. Without TMPDIR the folder goes into /dev/shm when
    // that can be written: a run's thousands of small files are made and removed in memory
    // rather than on a disk file system, where creating files soon after many were removed
    // nearby costs more than writing them.
    bool make(const char* prefix) {
        std::error_code ec;
        std::filesystem::path root = std::filesystem::temp_directory_path(ec);
        if (std::getenv("TMPDIR") == nullptr && ::access("/dev/shm", W_OK | X_OK) == 0) {
            root = "/dev/shm";
            ec.clear();
        }
        std::string pattern = (root / (std::string(prefix) + "-XXXXXX")).string();
        if (ec || mkdtemp(pattern.data()) == nullptr) {
            return false;
        }
        m_path = pattern + "/";
        return true;
    }
    // Ends with '/'.
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace tessara::output
