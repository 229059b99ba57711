#include "gui/progress_dialog.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace tessara::gui {

namespace {

// How often the work lets the window system in: often enough to paint and to see Cancel, rarely
// enough that a long run is as fast as the command line's.
constexpr qint64 kEventIntervalMs = 40;

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent, const QString& title)
    : QDialog(parent),
      m_bar(new QProgressBar(this)),
      m_cancel(new QPushButton(tr("Cancel"), this)) {
    setWindowTitle(title);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    m_bar->setMinimumWidth(320);
    m_bar->setRange(0, 0);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
}

bool ProgressDialog::run(const Work& work) {
    m_work = work;
    m_started = false;
    m_cancelled = false;
    m_result = false;
    exec();
    return m_result;
}

void ProgressDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        // Once the dialog is on the screen, not inside the show.
        QTimer::singleShot(0, this, &ProgressDialog::start);
    }
}

void ProgressDialog::start() {
    m_since_events.start();
    m_result = m_work ? m_work(*this) : false;
    QCoreApplication::processEvents();
    done(m_result ? QDialog::Accepted : QDialog::Rejected);
}

void ProgressDialog::reject() {
    // Escape and the close button cancel the work; the dialog closes when the work returns.
    m_cancelled = true;
}

void ProgressDialog::set_range(int64_t low, int64_t high) {
    m_low = low;
    m_high = std::max(low, high);
    m_position = low;
    m_since_bar.invalidate();
    show_position();
}

void ProgressDialog::set_position(int64_t position) {
    m_position = position;
    show_position();
}

void ProgressDialog::step(int64_t by) {
    m_position += by;
    show_position();
}

void ProgressDialog::show_position() {
    // The bar counts in thousandths of the range, whatever the range's size. It is redrawn at
    // most as often as events are let in: a bar repaints itself on every new value, which
    // would cost a long run more than its work.
    if (m_since_bar.isValid() && m_since_bar.elapsed() < kEventIntervalMs) {
        return;
    }
    m_since_bar.restart();
    const int64_t span = m_high - m_low;
    const int64_t done = std::clamp<int64_t>(m_position - m_low, 0, span);
    m_bar->setRange(0, 1000);
    m_bar->setValue(span > 0 ? static_cast<int>(done * 1000 / span) : 0);
}

bool ProgressDialog::keep_going() {
    if (!m_since_events.isValid() || m_since_events.elapsed() >= kEventIntervalMs) {
        QCoreApplication::processEvents();
        m_since_events.restart();
    }
    return !m_cancelled;
}

}  // namespace tessara::gui
