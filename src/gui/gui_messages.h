#pragma once

#include <QPointer>
#include <QWidget>

#include "base/messages.h"

namespace tessara::gui {

// Messages as modal message boxes over a window: information, warnings and errors each with
// their icon, questions with the buttons asked for. The caption is the program's name.
class GuiMessages final : public base::Messages {
  public:
    explicit GuiMessages(QWidget* parent = nullptr) : m_parent(parent) {}
    void set_parent(QWidget* parent) { m_parent = parent; }

    void inform(std::string_view text) override;
    void warn(std::string_view text) override;
    void error(std::string_view text) override;
    void error_with_system(std::string_view text, int system_error) override;
    base::Answer ask(std::string_view question, base::AskKind kind) override;

  private:
    QPointer<QWidget> m_parent;
};

// The program's name, the caption of its message boxes and dialogs.
inline constexpr const char* kCaption = "Tessara";

}  // namespace tessara::gui
