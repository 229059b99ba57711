#pragma once

#include <QDialog>
#include <vector>

#include "document/rendering_dialogs.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace tessara::base {
class Messages;
}

// The dialogs that shape what is drawn: rendering options, colour keys, style precedence and the
// style editor with its live sample. Like the settings dialogs they show the fields of their
// document-layer counterparts (document/rendering_dialogs.h) and call its rules, also while the
// fields change.
namespace tessara::gui {

class RenderingWindow final : public QDialog {
    Q_OBJECT
  public:
    RenderingWindow(QWidget* parent, document::Document& document, base::Messages& messages);
    void accept() override;

  private:
    document::RenderingDialog read_fields() const;
    void show_fields(const document::RenderingDialog& fields);
    // A field changed: the interdependencies applied and shown.
    void fields_changed();
    void preset_chosen(int index);
    void size_typed();
    void colour_keys();
    void background_colour();

    document::Document& m_document;
    base::Messages& m_messages;
    document::RenderingDialog m_fields;
    bool m_showing = false;

    QComboBox* m_script_type;
    QComboBox* m_image_type;
    QLineEdit* m_line_spacing;
    QLineEdit* m_char_spacing;
    QCheckBox* m_balanced;
    QCheckBox* m_no_hrz;
    QCheckBox* m_intelligent;
    QCheckBox* m_foresee;
    QComboBox* m_charset;
    QCheckBox* m_rtl;
    QComboBox* m_code_page;
    QComboBox* m_preset;
    QLineEdit* m_horizontal;
    QLineEdit* m_vertical;
    QLineEdit* m_fixed_width;
    QCheckBox* m_full_width;
    QCheckBox* m_minus2;
    QCheckBox* m_minus3;
    QCheckBox* m_dont_clip;
    QCheckBox* m_clip_minus_one;
    QComboBox* m_scaling;
    std::vector<QRadioButton*> m_modes;
    QCheckBox* m_sticky;
    QPushButton* m_keys;
    QPushButton* m_background;
    QLabel* m_swatch;
};

class ColourKeysWindow final : public QDialog {
    Q_OBJECT
  public:
    ColourKeysWindow(QWidget* parent, std::array<script::Colour, 4>& keys,
                     base::Messages& messages);
    void accept() override;

  private:
    void show_choice();

    std::array<script::Colour, 4>& m_keys;
    base::Messages& m_messages;
    document::ColourKeysDialog m_fields;
    std::vector<std::vector<QRadioButton*>> m_grid;
};

class StylePrecedenceWindow final : public QDialog {
    Q_OBJECT
  public:
    StylePrecedenceWindow(QWidget* parent, document::Document& document, base::Messages& messages);
    void accept() override;

  private:
    void show_list(int selected);
    void show_description();

    document::Document& m_document;
    base::Messages& m_messages;
    document::StylePrecedenceDialog m_fields;
    QListWidget* m_list;
    QPlainTextEdit* m_description;
};

class StyleEditorWindow final : public QDialog {
    Q_OBJECT
  public:
    StyleEditorWindow(QWidget* parent, document::Document& document, document::StyleEditor editor,
                      base::Messages& messages);
    void accept() override;
    // The sample as last drawn, for tests and screenshots.
    const QImage& sample() const { return m_sample_image; }

  private:
    void read_fields();
    void show_fields();
    void draw_sample();
    void choose_font();
    void choose_colour(script::Colour& colour);

    document::Document& m_document;
    base::Messages& m_messages;
    document::StyleEditor m_fields;
    bool m_showing = false;

    QLabel* m_font;
    QComboBox* m_charset;
    QPushButton* m_text_colour;
    QPushButton* m_outline_colour;
    QLabel* m_text_swatch;
    QLabel* m_outline_swatch;
    QSpinBox* m_outline;
    std::vector<QRadioButton*> m_halign;
    std::vector<QRadioButton*> m_valign;
    QLineEdit* m_left;
    QLineEdit* m_right;
    QLineEdit* m_vertical;
    QLabel* m_vertical_label;
    QLineEdit* m_extra_spacing;
    QSpinBox* m_line_spacing;
    QSpinBox* m_italics_left;
    QSpinBox* m_italics_right;
    QSpinBox* m_aa_average;
    QSpinBox* m_face_threshold;
    QSpinBox* m_aa_threshold;
    QCheckBox* m_kerning;
    QCheckBox* m_ligatures;
    QCheckBox* m_diacritics;
    QCheckBox* m_internal_scale;
    QLineEdit* m_sample_text;
    QLabel* m_sample;
    QImage m_sample_image;
};

}  // namespace tessara::gui
