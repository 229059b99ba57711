#include "base/messages.h"

#include <cstring>

namespace tessara::base {

std::string system_error_text(int system_error) {
    if (system_error == 0) {
        return "Unknown error";
    }
    const char* text = std::strerror(system_error);
    return text != nullptr && *text != '\0' ? std::string(text) : std::string("Unknown error");
}

void Messages::file_error(std::string_view, std::string_view text,
                          std::optional<int> system_error) {
    if (!system_error) {
        error(text);
    } else if (text.empty()) {
        error(system_error_text(*system_error));
    } else {
        error_with_system(text, *system_error);
    }
}

Answer safe_answer(AskKind kind) {
    return kind == AskKind::OkCancel ? Answer::Cancel : Answer::No;
}

void RecordingMessages::inform(std::string_view text) {
    m_messages.push_back({MessageKind::Inform, std::string(text)});
}

void RecordingMessages::warn(std::string_view text) {
    m_messages.push_back({MessageKind::Warn, std::string(text)});
}

void RecordingMessages::error(std::string_view text) {
    m_messages.push_back({MessageKind::Error, std::string(text)});
}

void RecordingMessages::error_with_system(std::string_view text, int system_error) {
    m_messages.push_back({MessageKind::Error, std::string(text)});
    m_messages.push_back({MessageKind::Error, system_error_text(system_error)});
}

Answer RecordingMessages::ask(std::string_view question, AskKind kind) {
    m_messages.push_back({MessageKind::Ask, std::string(question)});
    if (m_answers.empty()) {
        return safe_answer(kind);
    }
    Answer a = m_answers.front();
    m_answers.erase(m_answers.begin());
    return a;
}

std::vector<std::string> RecordingMessages::texts() const {
    std::vector<std::string> out;
    out.reserve(m_messages.size());
    for (const auto& m : m_messages) {
        out.push_back(m.text);
    }
    return out;
}

Answer SilentMessages::ask(std::string_view, AskKind kind) {
    return safe_answer(kind);
}

}  // namespace tessara::base
