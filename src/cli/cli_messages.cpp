#include "cli/cli_messages.h"

#include <iostream>
#include <string>

namespace tessara::cli {

namespace {

// Message texts may hold CR LF pairs meant for dialog boxes; the terminal gets plain line feeds.
void print(std::string_view prefix, std::string_view text) {
    std::string out(prefix);
    for (char c : text) {
        if (c != '\r') {
            out += c;
        }
    }
    std::cerr << out << '\n';
}

}  // namespace

void CliMessages::inform(std::string_view text) {
    print("", text);
}

void CliMessages::warn(std::string_view text) {
    print("warning: ", text);
}

void CliMessages::error(std::string_view text) {
    ++m_errors;
    print("error: ", text);
}

void CliMessages::error_with_system(std::string_view text, int system_error) {
    error(text);
    print("error: ", base::system_error_text(system_error));
}

void CliMessages::file_error(std::string_view path, std::string_view text,
                             std::optional<int> system_error) {
    const std::string named = std::string(path) + ": ";
    if (text.empty()) {
        error(named + base::system_error_text(system_error.value_or(0)));
        return;
    }
    error(named + std::string(text));
    if (system_error) {
        print("error: ", base::system_error_text(*system_error));
    }
}

base::Answer CliMessages::ask(std::string_view question, base::AskKind kind) {
    print("question: ", question);
    if (m_assume_yes) {
        base::Answer a = kind == base::AskKind::OkCancel ? base::Answer::Ok : base::Answer::Yes;
        print("", a == base::Answer::Ok ? "(answered OK: --yes)" : "(answered Yes: --yes)");
        return a;
    }
    base::Answer a = base::safe_answer(kind);
    print("", a == base::Answer::Cancel ? "(answered Cancel; pass --yes to confirm)"
                                        : "(answered No; pass --yes to confirm)");
    return a;
}

}  // namespace tessara::cli
