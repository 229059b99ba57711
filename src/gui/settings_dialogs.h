#pragma once

#include <QDialog>

#include "document/dialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

// The dialogs of the main window that edit settings and run tools. Each shows the fields of its
// document-layer counterpart (document/dialogs.h), and its OK calls that counterpart's apply
// function: a refused value keeps the dialog open with the message shown, Cancel changes nothing.
namespace tessara::gui {

// FPS in, FPS out, drop frame and the SMPTE offset.
class TimingWindow final : public QDialog {
    Q_OBJECT
  public:
    TimingWindow(QWidget* parent, document::Document& document, base::Messages& messages);
    void accept() override;

  private:
    document::Document& m_document;
    base::Messages& m_messages;
    QComboBox* m_fps_in;
    QComboBox* m_fps_out;
    QCheckBox* m_drop;
    QLineEdit* m_offset;
};

// The output script and the names derived from it, and the script whose palette is honoured.
class FilesWindow final : public QDialog {
    Q_OBJECT
  public:
    FilesWindow(QWidget* parent, document::Document& document, base::Preferences& preferences,
                base::Messages& messages);
    void accept() override;

  private:
    void show_names();
    void browse_output();
    void browse_honour();

    document::Document& m_document;
    base::Preferences& m_preferences;
    base::Messages& m_messages;
    document::FilesDialog m_fields;
    QLineEdit* m_output;
    QLabel* m_palette;
    QLabel* m_bitmaps;
    QLineEdit* m_honour;
    QCheckBox* m_always;
};

// The DVD segments and chapter points as text, parsed into the list below it.
class SegmentsWindow final : public QDialog {
    Q_OBJECT
  public:
    SegmentsWindow(QWidget* parent, document::Document& document, base::Messages& messages);
    void accept() override;

  private:
    void take_text();
    void show_fields();

    document::Document& m_document;
    base::Messages& m_messages;
    document::SegmentsDialog m_fields;
    QPlainTextEdit* m_text;
    QLabel* m_listing;
    QCheckBox* m_next_frame;
};

// The safety distance, the report of the subtitles the segments would cut, and the way to the
// segments dialog.
class SegmentCheckWindow final : public QDialog {
    Q_OBJECT
  public:
    SegmentCheckWindow(QWidget* parent, document::Document& document, base::Messages& messages);
    void check();

  private:
    document::Document& m_document;
    base::Messages& m_messages;
    QSpinBox* m_distance;
    QPlainTextEdit* m_report;
};

// The frame rate times are snapped to.
class SnapWindow final : public QDialog {
    Q_OBJECT
  public:
    SnapWindow(QWidget* parent, document::Document& document, base::Messages& messages);
    void accept() override;

  private:
    document::Document& m_document;
    base::Messages& m_messages;
    QComboBox* m_rate;
};

// Where the first foot of film stands, for the film export.
class FilmOffsetWindow final : public QDialog {
    Q_OBJECT
  public:
    FilmOffsetWindow(QWidget* parent, base::Messages& messages);
    void accept() override;
    const std::optional<script::ScriptTime>& offset() const { return m_result; }

  private:
    base::Messages& m_messages;
    QLineEdit* m_offset;
    std::optional<script::ScriptTime> m_result;
};

// The compatibility flags of the script and the reader preference.
class CompatibilityWindow final : public QDialog {
    Q_OBJECT
  public:
    CompatibilityWindow(QWidget* parent, document::Document& document,
                        base::Preferences& preferences, base::Messages& messages);
    void accept() override;

  private:
    document::Document& m_document;
    base::Preferences& m_preferences;
    base::Messages& m_messages;
    std::vector<QCheckBox*> m_flags;
    QCheckBox* m_treat_n;
};

// The program's name and version.
class AboutWindow final : public QDialog {
    Q_OBJECT
  public:
    explicit AboutWindow(QWidget* parent);
};

}  // namespace tessara::gui
