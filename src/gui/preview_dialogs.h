#pragma once

#include <QDialog>

#include "document/preview_dialogs.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QToolButton;

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

namespace tessara::gui {

// The guides: a list of vertical and one of horizontal guides, each with Add and Delete, the
// value field Add takes, and the three display options. OK writes them into the display.
class GuidesWindow final : public QDialog {
    Q_OBJECT
  public:
    GuidesWindow(QWidget* parent, document::PreviewDisplay& display, int32_t frame_width,
                 int32_t frame_height, base::Messages& messages);
    void accept() override;

  private:
    void fill();

    document::PreviewDisplay& m_display;
    document::Guides m_guides;
    base::Messages& m_messages;
    int32_t m_width;
    int32_t m_height;
    QListWidget* m_vertical;
    QListWidget* m_horizontal;
    QLineEdit* m_value;
    QCheckBox* m_show_guides;
    QCheckBox* m_show_safe;
    QCheckBox* m_show_snaps;
};

// The background: a picture file, a movie file (with the SMPTE time of its first frame, the
// lines cropped above and below, and the levels correction) or a solid colour.
class BackgroundWindow final : public QDialog {
    Q_OBJECT
  public:
    BackgroundWindow(QWidget* parent, document::PreviewDisplay& display,
                     base::Preferences& preferences, base::Messages& messages);
    void accept() override;

  private:
    void browse(bool movie);
    void show_colour();

    document::PreviewDisplay& m_display;
    base::Preferences& m_preferences;
    base::Messages& m_messages;
    document::BackgroundFields m_fields;
    QRadioButton* m_picture_choice;
    QRadioButton* m_movie_choice;
    QRadioButton* m_colour_choice;
    QLineEdit* m_picture;
    QLineEdit* m_movie;
    QLineEdit* m_offset;
    QLineEdit* m_crop_above;
    QLineEdit* m_crop_below;
    QCheckBox* m_levels;
    QToolButton* m_colour;
};

}  // namespace tessara::gui
