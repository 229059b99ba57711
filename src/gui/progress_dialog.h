#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

#include "base/progress.h"

class QProgressBar;
class QPushButton;

namespace tessara::gui {

// The small modal dialog long operations run in. run() shows it, starts the work as soon as it
// is shown and closes it with the work's result. While the work goes on, the work's progress
// calls keep the windows painted and answer Cancel (the button, or Escape).
class ProgressDialog final : public QDialog, public base::Progress {
    Q_OBJECT
  public:
    using Work = std::function<bool(base::Progress&)>;

    explicit ProgressDialog(QWidget* parent, const QString& title);

    // Runs `work` inside the dialog; its result.
    bool run(const Work& work);
    bool cancelled() const { return m_cancelled; }

    void set_range(int64_t low, int64_t high) override;
    void set_position(int64_t position) override;
    void step(int64_t by = 1) override;
    bool keep_going() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

  private:
    void start();
    void show_position();

    QProgressBar* m_bar;
    QPushButton* m_cancel;
    Work m_work;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_result = false;
    int64_t m_low = 0, m_high = 0, m_position = 0;
    QElapsedTimer m_since_events;
    QElapsedTimer m_since_bar;
};

}  // namespace tessara::gui
