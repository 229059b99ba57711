#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

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

    // False when no folder could be made.
    bool make(const char* prefix) {
        std::error_code ec;
        std::string pattern =
            (std::filesystem::temp_directory_path(ec) / (std::string(prefix) + "-XXXXXX")).string();
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
