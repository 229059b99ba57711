#pragma once

#include <string_view>

#include "base/messages.h"

namespace tessara::cli {

// Messages on stderr: "warning: " and "error: " prefixes, the system's text on its own line.
// Questions are printed; with --yes they are answered Yes/OK, otherwise with the safe default.
class CliMessages final : public base::Messages {
  public:
    explicit CliMessages(bool assume_yes) : m_assume_yes(assume_yes) {}

    void inform(std::string_view text) override;
    void warn(std::string_view text) override;
    void error(std::string_view text) override;
    void error_with_system(std::string_view text, int system_error) override;
    base::Answer ask(std::string_view question, base::AskKind kind) override;
    // "error: PATH: TEXT", then the system's text on its own line; with no text of the
    // program's own, "error: PATH: SYSTEM TEXT".
    void file_error(std::string_view path, std::string_view text,
                    std::optional<int> system_error) override;

    int errors() const { return m_errors; }

  private:
    bool m_assume_yes;
    int m_errors = 0;
};

}  // namespace tessara::cli
