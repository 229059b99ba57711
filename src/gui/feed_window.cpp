#include "gui/feed_window.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/qt_text.h"

namespace tessara::gui {

namespace {

QFont fixed_pitch() {
    QFont font("Courier New");
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(11);
    return font;
}

}  // namespace

FeedWindow::FeedWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("feed");
    setWindowTitle("Feeding VirtualDub plugin with data...");
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_text->setObjectName("feeding_text");
    m_text->setWordWrap(true);
    layout->addWidget(m_text);
    auto* offset = new QHBoxLayout;
    offset->addWidget(new QLabel("First SMPTE frame in VirtualDub:", this));
    m_offset = new QLabel(this);
    m_offset->setObjectName("offset");
    m_offset->setFont(fixed_pitch());
    offset->addWidget(m_offset);
    m_change = new QPushButton(tr("Change..."), this);
    m_change->setObjectName("change");
    m_change->setAutoDefault(false);
    connect(m_change, &QPushButton::clicked, this,
            [this] { m_request = link::DialogRequest::ChangeOffset; });
    offset->addWidget(m_change);
    offset->addStretch(1);
    layout->addLayout(offset);
    m_dont_check_fr = new QCheckBox(tr("Don't check frame rate match"), this);
    m_dont_check_fr->setObjectName("dont_check_fr");
    layout->addWidget(m_dont_check_fr);
    m_status = new QLabel(this);
    m_status->setObjectName("status");
    m_status->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(m_status);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName("cancel");
    connect(cancel, &QPushButton::clicked, this, &FeedWindow::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    setModal(true);
}

void FeedWindow::show(std::string_view feeding_text, std::string_view offset, bool dont_check_fr) {
    m_text->setText(qt(feeding_text));
    m_offset->setText(qt(offset));
    m_dont_check_fr->setChecked(dont_check_fr);
    QDialog::show();
    QCoreApplication::processEvents();
}

void FeedWindow::show_offset(std::string_view offset) {
    m_offset->setText(qt(offset));
}

void FeedWindow::set_status(std::string_view text) {
    m_status->setText(qt(text));
    QCoreApplication::processEvents();
}

bool FeedWindow::dont_check_fr() const {
    return m_dont_check_fr->isChecked();
}

void FeedWindow::lock_settings() {
    m_change->setEnabled(false);
    m_dont_check_fr->setEnabled(false);
}

link::DialogRequest FeedWindow::poll() {
    QCoreApplication::processEvents();
    const link::DialogRequest request = m_request;
    if (request == link::DialogRequest::ChangeOffset) {
        m_request = link::DialogRequest::None;
    }
    return request;
}

std::optional<std::string> FeedWindow::ask_offset(std::string_view current) {
    QInputDialog dialog(this);
    dialog.setObjectName("offset_dialog");
    dialog.setLabelText("First frame of the video file is at the SMPTE offset (HH:MM:SS:FF):");
    dialog.setTextValue(qt(current));
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        edit->setFont(fixed_pitch());
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return utf8(dialog.textValue());
}

void FeedWindow::reject() {
    // The transfer sees the request at its next wait slice and ends; it closes the window.
    m_request = link::DialogRequest::Cancel;
}

}  // namespace tessara::gui
