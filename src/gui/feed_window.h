#pragma once

#include <QDialog>

#include "link/server.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace tessara::gui {

// The feed dialog: what is being sent, the offset of the video's first frame with its Change
// button, the frame-rate check box, the status line and Cancel. The transfer drives it through
// link::FeedDialog and keeps it painted while it waits.
class FeedWindow final : public QDialog, public link::FeedDialog {
    Q_OBJECT
  public:
    explicit FeedWindow(QWidget* parent);

    void show(std::string_view feeding_text, std::string_view offset, bool dont_check_fr) override;
    void show_offset(std::string_view offset) override;
    void set_status(std::string_view text) override;
    bool dont_check_fr() const override;
    void lock_settings() override;
    link::DialogRequest poll() override;
    std::optional<std::string> ask_offset(std::string_view current) override;

  protected:
    void reject() override;

  private:
    QLabel* m_text;
    QLabel* m_offset;
    QPushButton* m_change;
    QCheckBox* m_dont_check_fr;
    QLabel* m_status;
    link::DialogRequest m_request = link::DialogRequest::None;
};

}  // namespace tessara::gui
