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

// The collection of real scripts written by other programs. It lives beside the repository, not
// in it, so a lone clone has none: tests that read it start with TESSARA_REQUIRE_CORPUS().
std::filesystem::path corpus_dir();
bool have_corpus();
// Path of a file in that collection.
std::filesystem::path corpus_file(std::string_view name);
std::filesystem::path test_data(std::string_view name);

}  // namespace tessara::test

// Skips the calling test, naming the folder, when the collection of real scripts is absent.
#define TESSARA_REQUIRE_CORPUS()                                                             \
    do {                                                                                     \
        if (!::tessara::test::have_corpus()) {                                               \
            GTEST_SKIP() << "the folder of real scripts " << ::tessara::test::corpus_dir()   \
                         << " is not there (it sits beside the repository, not in a clone)"; \
        }                                                                                    \
    } while (0)
