#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessara::cli {

// A small streaming JSON writer producing indented UTF-8 text. Keys and values are written in
// call order; commas and indentation are handled here.
class JsonWriter {
  public:
    void begin_object(std::string_view key = {});
    void end_object();
    void begin_array(std::string_view key = {});
    void end_array();

    void value(std::string_view key, std::string_view text);
    void value(std::string_view key, std::u16string_view text);
    void value(std::string_view key, const char* text) { value(key, std::string_view(text)); }
    void value(std::string_view key, int64_t number);
    void value(std::string_view key, int number) { value(key, int64_t{number}); }
    void value(std::string_view key, bool flag);
    void null(std::string_view key);

    const std::string& str() const { return m_out; }

  private:
    void prefix(std::string_view key);
    static void escape(std::string& out, std::string_view text);

    std::string m_out;
    int m_depth = 0;
    bool m_first = true;
};

}  // namespace tessara::cli
