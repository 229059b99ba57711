#pragma once

#include <QDialog>
#include <QImage>
#include <QPlainTextEdit>
#include <cstdint>

#include "document/subtitle_editor.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base
namespace tessara::document {
class Document;
}

// The subtitle editor the preview opens for one subtitle: its text with override buttons, its
// style, its output times and a live sample. The rules are those of document/subtitle_editor.h.
namespace tessara::gui {

// Opens the editor for subtitle `timeline_index` of the document's last build (its index in
// doc.last_build()->timeline.subtitles()) and waits for it. `shown_subpicture` is the index of
// the subpicture the caller shows; an edit rebuilds the preview incrementally and moves it to
// the subtitle. True when the script changed (the subtitle, or a style edited from the editor).
// `messages` must outlive the document's build (a rebuild keeps it, see apply_subtitle_edit).
bool edit_subtitle(QWidget* parent, document::Document& document, int32_t timeline_index,
                   int32_t& shown_subpicture, base::Messages& messages,
                   base::Preferences& preferences);

// The text field: Enter breaks the line (stored as "\N"), and the context menu changes the
// editor font kept in the preferences.
class SubtitleTextEdit final : public QPlainTextEdit {
    Q_OBJECT
  public:
    SubtitleTextEdit(QWidget* parent, base::Preferences& preferences);
    // The text with every line break as '\n' and non-breaking spaces kept.
    QString text() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void use_font();

    base::Preferences& m_preferences;
};

class SubtitleEditorWindow final : public QDialog {
    Q_OBJECT
  public:
    SubtitleEditorWindow(QWidget* parent, document::Document& document, int32_t timeline_index,
                         document::SubtitleEdit fields, int32_t& shown, base::Messages& messages,
                         base::Preferences& preferences);
    void accept() override;

    // Whether OK changed the script, or a style was edited from here.
    bool changed() const { return m_changed || m_style_edited; }
    bool subtitle_changed() const { return m_changed; }
    bool style_edited() const { return m_style_edited; }
    // The sample as last drawn (null while hidden or when nothing can be drawn), for tests.
    const QImage& sample() const { return m_sample_image; }

  private:
    document::SubtitleEdit read_fields() const;
    void insert_block(std::u16string_view tag);
    void insert_text(std::u16string_view text);
    void choose_colour();
    void choose_font();
    void edit_style();
    void draw_sample();
    void test_readability();

    document::Document& m_document;
    int32_t m_index;
    int32_t& m_shown;
    base::Messages& m_messages;
    document::SubtitleEdit m_fields;
    bool m_changed = false;
    bool m_style_edited = false;

    QComboBox* m_style;
    QLineEdit* m_start;
    QLineEdit* m_stop;
    QCheckBox* m_absolute_in;
    QCheckBox* m_absolute_out;
    SubtitleTextEdit* m_text;
    QLabel* m_sample;
    QPushButton* m_readability;
    QImage m_sample_image;
};

}  // namespace tessara::gui
