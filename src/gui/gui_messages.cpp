#include "gui/gui_messages.h"

#include <QMessageBox>
#include <string>

namespace tessara::gui {

namespace {

QString text_of(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A message longer than this many lines (an import report, a long list) shows its start, with
// the whole text under Show Details, so that the box stays on the screen.
constexpr qsizetype kShownLines = 16;

void show(QWidget* parent, QMessageBox::Icon icon, std::string_view text) {
    const QString whole = text_of(text);
    const QStringList lines = whole.split('\n');
    QMessageBox box(icon, kCaption, whole, QMessageBox::Ok, parent);
    if (lines.size() > kShownLines) {
        box.setText(lines.mid(0, kShownLines).join('\n') + "\n...");
        box.setDetailedText(whole);
    }
    box.exec();
}

}  // namespace

void GuiMessages::inform(std::string_view text) {
    show(m_parent, QMessageBox::Information, text);
}

void GuiMessages::warn(std::string_view text) {
    show(m_parent, QMessageBox::Warning, text);
}

void GuiMessages::error(std::string_view text) {
    show(m_parent, QMessageBox::Critical, text);
}

void GuiMessages::error_with_system(std::string_view text, int system_error) {
    // One box: the program's text, then the system's reason on a line of its own.
    std::string whole(text);
    whole += "\n";
    whole += base::system_error_text(system_error);
    show(m_parent, QMessageBox::Critical, whole);
}

base::Answer GuiMessages::ask(std::string_view question, base::AskKind kind) {
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton safe;
    switch (kind) {
        case base::AskKind::YesNo:
            buttons = QMessageBox::Yes | QMessageBox::No;
            safe = QMessageBox::No;
            break;
        case base::AskKind::OkCancel:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            safe = QMessageBox::Cancel;
            break;
        case base::AskKind::YesNoCancel:
        default:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            safe = QMessageBox::Cancel;
            break;
    }
    QMessageBox box(QMessageBox::Warning, kCaption, text_of(question), buttons, m_parent);
    box.setEscapeButton(safe);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return base::Answer::Yes;
        case QMessageBox::No:
            return base::Answer::No;
        case QMessageBox::Ok:
            return base::Answer::Ok;
        default:
            return kind == base::AskKind::YesNo ? base::Answer::No : base::Answer::Cancel;
    }
}

}  // namespace tessara::gui
