#include "test_support.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "base/text.h"

namespace tessara::test {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() /
                         ("tessara-test-" + std::to_string(rd()) + std::to_string(attempt));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string utf16le_with_bom(std::string_view utf8) {
    std::u16string text = base::utf8_to_utf16(utf8);
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::filesystem::path corpus_dir() {
    return std::filesystem::path(TESSARA_CORPUS_DIR).lexically_normal();
}

bool have_corpus() {
    std::error_code error;
    return std::filesystem::is_directory(corpus_dir(), error);
}

std::filesystem::path corpus_file(std::string_view name) {
    return corpus_dir() / name;
}

std::filesystem::path test_data(std::string_view name) {
    return std::filesystem::path(TESSARA_TEST_DATA) / name;
}

}  // namespace tessara::test
