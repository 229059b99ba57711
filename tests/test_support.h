#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Helpers shared by the test programs: temporary directories and whole-file reads and writes.
namespace tessara::test {

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path file(std::string_view name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

void write_file(const std::filesystem::path& path, std::string_view bytes);
std::string read_file(const std::filesystem::path& path);

// UTF-16LE bytes with the FF FE mark for a UTF-8 text.
std::string utf16le_with_bom(std::string_view utf8);

// Path of a file in the shared corpus of real scripts.
std::filesystem::path corpus_file(std::string_view name);
std::filesystem::path test_data(std::string_view name);

}  // namespace tessara::test
