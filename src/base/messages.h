#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessara::base {

// The buttons a question offers and the answer the user gave.
enum class AskKind { YesNo, OkCancel, YesNoCancel };
enum class Answer { Yes, No, Ok, Cancel };

// Where an operation reports to the user. Operations report once, at the point of failure, with
// the exact program texts; texts are UTF-8. Implementations: the command line (stderr), the GUI
// (message boxes) and a recording one for tests.
class Messages {
  public:
    virtual ~Messages() = default;

    virtual void inform(std::string_view text) = 0;
    virtual void warn(std::string_view text) = 0;
    virtual void error(std::string_view text) = 0;
    // The program's text first, then the system's text for `system_error` (an errno value);
    // 0 means the system gave no reason and "Unknown error" is shown.
    virtual void error_with_system(std::string_view text, int system_error) = 0;
    virtual Answer ask(std::string_view question, AskKind kind) = 0;

    // A failure about the file (or socket) at `path`: the program's text, followed by the
    // system's text when `system_error` is given; an empty text stands for the system's text
    // alone. The texts are those of error() and error_with_system(), which this calls by
    // default; the command line also names the path, as command-line tools do.
    virtual void file_error(std::string_view path, std::string_view text,
                            std::optional<int> system_error);
};

// The system's text for an errno value, or "Unknown error" for 0.
std::string system_error_text(int system_error);

// What a recorded message was.
enum class MessageKind { Inform, Warn, Error, Ask };

struct RecordedMessage {
    MessageKind kind;
    std::string text;

    bool operator==(const RecordedMessage&) const = default;
};

// Keeps every message for tests to assert on. Questions are answered from a queue of answers
// set up beforehand; when it runs dry the safe answer (No / Cancel) is given.
class RecordingMessages final : public Messages {
  public:
    void inform(std::string_view text) override;
    void warn(std::string_view text) override;
    void error(std::string_view text) override;
    void error_with_system(std::string_view text, int system_error) override;
    Answer ask(std::string_view question, AskKind kind) override;

    void queue_answer(Answer a) { m_answers.push_back(a); }
    const std::vector<RecordedMessage>& messages() const { return m_messages; }
    // The texts alone, in order.
    std::vector<std::string> texts() const;
    void clear() { m_messages.clear(); }

  private:
    std::vector<RecordedMessage> m_messages;
    std::vector<Answer> m_answers;
};

// Says nothing and answers every question with the safe default.
class SilentMessages final : public Messages {
  public:
    void inform(std::string_view) override {}
    void warn(std::string_view) override {}
    void error(std::string_view) override {}
    void error_with_system(std::string_view, int) override {}
    Answer ask(std::string_view, AskKind kind) override;
};

// The safe answer to a question nobody answered: No, or Cancel for OK/Cancel.
Answer safe_answer(AskKind kind);

}  // namespace tessara::base
