#include "gui/rendering_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <tuple>

#include "base/messages.h"
#include "document/document.h"
#include "document/summary.h"
#include "gui/dialog_parts.h"
#include "gui/qt_text.h"
#include "imaging/image_types.h"
#include "script/script.h"

namespace tessara::gui {

namespace {

void paint_swatch(QWidget* widget, script::Colour c) {
    widget->setStyleSheet(
        QString("background-color: %1; border: 1px solid gray;").arg(qt_colour(c).name()));
}

QCheckBox* check(QWidget* parent, const QString& text, const char* name) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    return box;
}

QLineEdit* field(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaximumWidth(90);
    return edit;
}

QSpinBox* spin(QWidget* parent, int low, int high, const char* name) {
    auto* box = new QSpinBox(parent);
    box->setRange(low, high);
    box->setObjectName(name);
    return box;
}

void select_data(QComboBox* box, int value) {
    const int at = box->findData(value);
    box->setCurrentIndex(at >= 0 ? at : 0);
}

}  // namespace

// --- Rendering options ---------------------------------------------------------------------------

RenderingWindow::RenderingWindow(QWidget* parent, document::Document& document,
                                 base::Messages& messages)
    : QDialog(parent),
      m_document(document),
      m_messages(messages),
      m_fields(document::fill_rendering_dialog(document)) {
    setWindowTitle(tr("Rendering options"));
    auto* grid = new QGridLayout;

    auto* format = new QGroupBox(tr("File format"), this);
    auto* format_form = new QFormLayout(format);
    m_script_type = new QComboBox(format);
    m_script_type->setObjectName("script_type");
    for (const auto& choice : document::rendering_script_types()) {
        m_script_type->addItem(qt(choice.label), static_cast<int>(choice.type));
    }
    m_image_type = new QComboBox(format);
    m_image_type->setObjectName("image_type");
    for (const auto& type : imaging::image_type_table()) {
        m_image_type->addItem(qt(type.label), type.id);
    }
    format_form->addRow(tr("Script type:"), m_script_type);
    format_form->addRow(tr("Bitmap type:"), m_image_type);
    grid->addWidget(format, 0, 0);

    auto* text = new QGroupBox(tr("Text"), this);
    auto* text_form = new QFormLayout(text);
    m_line_spacing = field(text, "line_spacing");
    m_char_spacing = field(text, "char_spacing");
    m_balanced = check(text, tr("Balanced word wrap"), "balanced_wrap");
    m_no_hrz = check(text, tr("No horizontal collisions"), "no_horizontal_collisions");
    m_intelligent = check(text, tr("Intelligent collisions"), "intelligent_collisions");
    m_foresee = check(text, tr("Collision foresee"), "collision_foresee");
    m_charset = new QComboBox(text);
    m_charset->setObjectName("charset");
    for (const auto& charset : document::charset_names()) {
        m_charset->addItem(qt(document::charset_choice_label(charset)), charset.value);
    }
    m_rtl = check(text, tr("Right-to-left"), "right_to_left");
    m_code_page = new QComboBox(text);
    m_code_page->setObjectName("code_page");
    for (const auto& choice : document::code_page_choices()) {
        m_code_page->addItem(qt(choice.label), choice.code_page);
    }
    text_form->addRow(tr("Line spacing %:"), m_line_spacing);
    text_form->addRow(tr("Character spacing:"), m_char_spacing);
    text_form->addRow(m_balanced);
    text_form->addRow(m_no_hrz);
    text_form->addRow(m_intelligent);
    text_form->addRow(m_foresee);
    text_form->addRow(tr("Character set:"), m_charset);
    text_form->addRow(m_rtl);
    text_form->addRow(tr("Multibyte code page:"), m_code_page);
    grid->addWidget(text, 1, 0, 2, 1);

    auto* screen = new QGroupBox(tr("Screen and bitmap size"), this);
    auto* screen_form = new QFormLayout(screen);
    m_preset = new QComboBox(screen);
    m_preset->setObjectName("resolution");
    for (const auto& preset : document::resolution_presets()) {
        m_preset->addItem(qt(preset.label));
    }
    m_horizontal = field(screen, "horizontal");
    m_vertical = field(screen, "vertical");
    m_fixed_width = field(screen, "fixed_width");
    m_full_width = check(screen, tr("Full width"), "full_width");
    m_minus2 = check(screen, tr("Minus 2"), "minus2");
    m_minus3 = check(screen, tr("Minus 3"), "minus3");
    m_dont_clip = check(screen, tr("Don't clip bitmaps (needed by Scenarist)"), "dont_clip");
    m_clip_minus_one = check(screen, tr("Clip minus one pixel"), "clip_minus_one");
    m_scaling = new QComboBox(screen);
    m_scaling->setObjectName("font_scaling");
    for (std::string_view label : document::font_scaling_labels()) {
        m_scaling->addItem(qt(label));
    }
    screen_form->addRow(tr("Resolution:"), m_preset);
    screen_form->addRow(tr("Horizontal:"), m_horizontal);
    screen_form->addRow(tr("Vertical:"), m_vertical);
    screen_form->addRow(tr("Fixed width:"), m_fixed_width);
    screen_form->addRow(m_full_width);
    screen_form->addRow(m_minus2);
    screen_form->addRow(m_minus3);
    screen_form->addRow(m_dont_clip);
    screen_form->addRow(m_clip_minus_one);
    screen_form->addRow(tr("Font scaling:"), m_scaling);
    grid->addWidget(screen, 0, 1, 2, 1);

    auto* colour = new QGroupBox(tr("Colour rendering"), this);
    auto* colour_layout = new QVBoxLayout(colour);
    auto* modes = new QButtonGroup(colour);
    for (int mode = 1; mode <= 3; ++mode) {
        auto* radio = new QRadioButton(qt(document::colour_mode_label(mode)), colour);
        radio->setObjectName(QString("colour_mode_%1").arg(mode));
        modes->addButton(radio, mode);
        colour_layout->addWidget(radio);
        m_modes.push_back(radio);
    }
    m_sticky = check(colour, tr("Sticky colors"), "sticky_colours");
    colour_layout->addWidget(m_sticky);
    auto* colour_buttons = new QHBoxLayout;
    m_keys = new QPushButton(tr("Colour keys..."), colour);
    m_keys->setObjectName("colour_keys");
    m_background = new QPushButton(tr("Background colour..."), colour);
    m_background->setObjectName("background_colour");
    m_swatch = new QLabel(colour);
    m_swatch->setObjectName("background_swatch");
    m_swatch->setFixedSize(24, 24);
    colour_buttons->addWidget(m_keys);
    colour_buttons->addWidget(m_background);
    colour_buttons->addWidget(m_swatch);
    colour_layout->addLayout(colour_buttons);
    grid->addWidget(colour, 2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    auto* bottom = new QHBoxLayout;
    // Present as in every version of the dialog, and not in use.
    for (const QString& label : {tr("Save as defaults"), tr("Restore defaults")}) {
        auto* button = new QPushButton(label, this);
        button->setEnabled(false);
        bottom->addWidget(button);
    }
    bottom->addStretch();
    bottom->addWidget(ok_cancel(this));
    layout->addLayout(bottom);

    show_fields(m_fields);
    for (QCheckBox* box : findChildren<QCheckBox*>()) {
        connect(box, &QCheckBox::toggled, this, &RenderingWindow::fields_changed);
    }
    for (QComboBox* box : {m_script_type, m_image_type, m_charset, m_code_page, m_scaling}) {
        connect(box, &QComboBox::currentIndexChanged, this, &RenderingWindow::fields_changed);
    }
    connect(modes, &QButtonGroup::idClicked, this, &RenderingWindow::fields_changed);
    connect(m_preset, &QComboBox::currentIndexChanged, this, &RenderingWindow::preset_chosen);
    connect(m_horizontal, &QLineEdit::textEdited, this, &RenderingWindow::size_typed);
    connect(m_vertical, &QLineEdit::textEdited, this, &RenderingWindow::size_typed);
    connect(m_keys, &QPushButton::clicked, this, &RenderingWindow::colour_keys);
    connect(m_background, &QPushButton::clicked, this, &RenderingWindow::background_colour);
}

document::RenderingDialog RenderingWindow::read_fields() const {
    document::RenderingDialog f = m_fields;  // colour keys and background come from their dialogs
    f.script_type = static_cast<script::ScriptType>(m_script_type->currentData().toInt());
    f.image_type = m_image_type->currentData().toInt();
    f.line_spacing = u16(m_line_spacing->text());
    f.char_spacing = u16(m_char_spacing->text());
    f.balanced_wrap = m_balanced->isChecked();
    f.no_horizontal_collisions = m_no_hrz->isChecked();
    f.intelligent_collisions = m_intelligent->isChecked();
    f.collision_foresee = m_foresee->isChecked();
    f.charset = m_charset->currentData().toInt();
    f.right_to_left = m_rtl->isChecked();
    f.mb_code_page = m_code_page->currentData().toInt();
    f.resolution_preset = static_cast<size_t>(std::max(0, m_preset->currentIndex()));
    f.horizontal = u16(m_horizontal->text());
    f.vertical = u16(m_vertical->text());
    f.fixed_width = u16(m_fixed_width->text());
    f.full_width = m_full_width->isChecked();
    f.minus2 = m_minus2->isChecked();
    f.minus3 = m_minus3->isChecked();
    f.dont_clip = m_dont_clip->isChecked();
    f.clip_minus_one_pixel = m_clip_minus_one->isChecked();
    f.font_scaling = m_scaling->currentIndex();
    for (size_t i = 0; i < m_modes.size(); ++i) {
        if (m_modes[i]->isChecked()) {
            f.colour_mode = static_cast<int32_t>(i) + 1;
        }
    }
    f.sticky_colours = m_sticky->isChecked();
    return f;
}

void RenderingWindow::show_fields(const document::RenderingDialog& f) {
    m_showing = true;
    select_data(m_script_type, static_cast<int>(f.script_type));
    select_data(m_image_type, f.image_type);
    m_line_spacing->setText(qt(f.line_spacing));
    m_char_spacing->setText(qt(f.char_spacing));
    m_balanced->setChecked(f.balanced_wrap);
    m_no_hrz->setChecked(f.no_horizontal_collisions);
    m_no_hrz->setEnabled(document::no_horizontal_collisions_enabled(f.intelligent_collisions));
    m_intelligent->setChecked(f.intelligent_collisions);
    m_foresee->setChecked(f.collision_foresee);
    select_data(m_charset, f.charset);
    m_rtl->setChecked(f.right_to_left);
    select_data(m_code_page, f.mb_code_page);
    m_preset->setCurrentIndex(static_cast<int>(f.resolution_preset));
    m_horizontal->setText(qt(f.horizontal));
    m_vertical->setText(qt(f.vertical));
    m_fixed_width->setText(qt(f.fixed_width));
    m_full_width->setChecked(f.full_width);
    m_minus2->setChecked(f.minus2);
    m_minus3->setChecked(f.minus3);
    m_dont_clip->setChecked(f.dont_clip);
    m_dont_clip->setEnabled(!document::dont_clip_forced(f.script_type));
    m_clip_minus_one->setChecked(f.clip_minus_one_pixel);
    m_scaling->setCurrentIndex(f.font_scaling);
    if (f.colour_mode >= 1 && f.colour_mode <= 3) {
        m_modes[static_cast<size_t>(f.colour_mode - 1)]->setChecked(true);
    }
    m_sticky->setChecked(f.sticky_colours);
    m_keys->setEnabled(document::colour_keys_enabled(f.script_type));
    m_background->setEnabled(document::background_colour_enabled(f.script_type));
    m_swatch->setVisible(document::background_colour_enabled(f.script_type));
    paint_swatch(m_swatch, f.background_colour);
    m_showing = false;
}

void RenderingWindow::fields_changed() {
    if (m_showing) {
        return;
    }
    m_fields = read_fields();
    document::enforce_rendering_rules(m_fields);
    show_fields(m_fields);
}

void RenderingWindow::preset_chosen(int index) {
    if (m_showing || index < 0) {
        return;
    }
    m_fields = read_fields();
    document::choose_resolution_preset(m_fields, static_cast<size_t>(index));
    show_fields(m_fields);
}

void RenderingWindow::size_typed() {
    m_fields = read_fields();
    m_fields.resolution_preset = document::resolution_preset_of(m_fields);
    show_fields(m_fields);
}

void RenderingWindow::colour_keys() {
    m_fields = read_fields();
    ColourKeysWindow(this, m_fields.colour_keys, m_messages).exec();
}

void RenderingWindow::background_colour() {
    const QColor chosen = QColorDialog::getColor(qt_colour(m_fields.background_colour), this,
                                                 tr("Background colour"));
    if (chosen.isValid()) {
        m_fields = read_fields();
        m_fields.background_colour = ssa_colour(chosen);
        show_fields(m_fields);
    }
}

void RenderingWindow::accept() {
    m_fields = read_fields();
    if (document::apply_rendering_dialog(m_document, m_fields, m_messages)) {
        QDialog::accept();
    }
}

// --- Colour keys ---------------------------------------------------------------------------------

ColourKeysWindow::ColourKeysWindow(QWidget* parent, std::array<script::Colour, 4>& keys,
                                   base::Messages& messages)
    : QDialog(parent),
      m_keys(keys),
      m_messages(messages),
      m_fields(document::fill_colour_keys_dialog(keys)) {
    setWindowTitle(tr("Colour keys"));
    auto* grid = new QGridLayout;
    const auto colours = document::key_colours();
    for (size_t c = 0; c < colours.size(); ++c) {
        auto* head = new QLabel(qt(colours[c].label), this);
        head->setAlignment(Qt::AlignCenter);
        grid->addWidget(head, 0, static_cast<int>(c) + 1);
    }
    const auto concepts = document::colour_key_concepts();
    for (size_t r = 0; r < concepts.size(); ++r) {
        grid->addWidget(new QLabel(qt(concepts[r]), this), static_cast<int>(r) + 1, 0);
        // Each row's buttons are managed here: a column may belong to one row only.
        auto* group = new QButtonGroup(this);
        group->setExclusive(false);
        std::vector<QRadioButton*> row;
        for (size_t c = 0; c < colours.size(); ++c) {
            auto* radio = new QRadioButton(this);
            radio->setObjectName(QString("key_%1_%2").arg(r).arg(c));
            radio->setAutoExclusive(false);
            group->addButton(radio);
            grid->addWidget(radio, static_cast<int>(r) + 1, static_cast<int>(c) + 1,
                            Qt::AlignCenter);
            connect(radio, &QRadioButton::clicked, this, [this, r, c] {
                document::pick_colour_key(m_fields, r, c);
                show_choice();
            });
            row.push_back(radio);
        }
        m_grid.push_back(row);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    auto* buttons = ok_cancel(this);
    auto* reset = buttons->addButton(tr("Default"), QDialogButtonBox::ResetRole);
    reset->setObjectName("default");
    connect(reset, &QPushButton::clicked, this, [this] {
        m_fields = document::default_colour_keys_dialog();
        show_choice();
    });
    layout->addWidget(buttons);
    show_choice();
}

void ColourKeysWindow::show_choice() {
    for (size_t r = 0; r < m_grid.size(); ++r) {
        for (size_t c = 0; c < m_grid[r].size(); ++c) {
            m_grid[r][c]->setChecked(m_fields.choice[r] && *m_fields.choice[r] == c);
        }
    }
}

void ColourKeysWindow::accept() {
    if (document::apply_colour_keys_dialog(m_fields, m_keys, m_messages)) {
        QDialog::accept();
    }
}

// --- Style precedence ----------------------------------------------------------------------------

StylePrecedenceWindow::StylePrecedenceWindow(QWidget* parent, document::Document& document,
                                             base::Messages& messages)
    : QDialog(parent),
      m_document(document),
      m_messages(messages),
      m_fields(document::fill_style_precedence_dialog(document)) {
    setWindowTitle(tr("Style precedence"));
    auto* columns = new QHBoxLayout;
    m_list = new QListWidget(this);
    m_list->setObjectName("styles");
    columns->addWidget(m_list);
    auto* buttons = new QVBoxLayout;
    auto* higher = new QPushButton(tr("&Higher"), this);
    higher->setObjectName("higher");
    auto* lower = new QPushButton(tr("&Lower"), this);
    lower->setObjectName("lower");
    auto* edit = new QPushButton(tr("&Edit..."), this);
    edit->setObjectName("edit");
    buttons->addWidget(higher);
    buttons->addWidget(lower);
    buttons->addWidget(edit);
    buttons->addStretch();
    columns->addLayout(buttons);
    m_description = new QPlainTextEdit(this);
    m_description->setObjectName("description");
    m_description->setReadOnly(true);
    m_description->setMinimumWidth(300);
    columns->addWidget(m_description);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(ok_cancel(this));

    connect(m_list, &QListWidget::currentRowChanged, this,
            &StylePrecedenceWindow::show_description);
    connect(higher, &QPushButton::clicked, this, [this] {
        show_list(static_cast<int>(
            document::raise_style(m_fields, static_cast<size_t>(m_list->currentRow()))));
    });
    connect(lower, &QPushButton::clicked, this, [this] {
        show_list(static_cast<int>(
            document::lower_style(m_fields, static_cast<size_t>(m_list->currentRow()))));
    });
    connect(edit, &QPushButton::clicked, this, [this] {
        const int row = m_list->currentRow();
        if (row < 0) {
            return;
        }
        if (auto editor =
                document::fill_style_editor(m_document, m_fields.order[static_cast<size_t>(row)])) {
            StyleEditorWindow(this, m_document, std::move(*editor), m_messages).exec();
            show_description();
        }
    });
    show_list(m_fields.order.empty() ? -1 : 0);
}

void StylePrecedenceWindow::show_list(int selected) {
    m_list->clear();
    for (const auto& name : m_fields.order) {
        m_list->addItem(qt(document::display_text(m_document.script(), name)));
    }
    m_list->setCurrentRow(selected);
}

void StylePrecedenceWindow::show_description() {
    const int row = m_list->currentRow();
    m_description->setPlainText(row < 0
                                    ? QString()
                                    : qt(document::style_description(
                                          m_document, m_fields.order[static_cast<size_t>(row)])));
}

void StylePrecedenceWindow::accept() {
    document::apply_style_precedence_dialog(m_document, m_fields);
    QDialog::accept();
}

// --- Style editor --------------------------------------------------------------------------------

StyleEditorWindow::StyleEditorWindow(QWidget* parent, document::Document& document,
                                     document::StyleEditor editor, base::Messages& messages)
    : QDialog(parent), m_document(document), m_messages(messages), m_fields(std::move(editor)) {
    setWindowTitle(
        tr("Style: %1").arg(qt(document::display_text(document.script(), m_fields.style_name))));
    auto* grid = new QGridLayout;

    auto* font_box = new QGroupBox(tr("Font"), this);
    auto* font_form = new QFormLayout(font_box);
    auto* font_row = new QHBoxLayout;
    m_font = new QLabel(font_box);
    m_font->setObjectName("font");
    auto* choose = new QPushButton(tr("&Font..."), font_box);
    choose->setObjectName("choose_font");
    font_row->addWidget(m_font, 1);
    font_row->addWidget(choose);
    font_form->addRow(font_row);
    // The font picker knows no character sets: they are chosen here.
    m_charset = new QComboBox(font_box);
    m_charset->setObjectName("charset");
    for (const auto& charset : document::charset_names()) {
        if (charset.value >= 0) {
            m_charset->addItem(qt(charset.name), charset.value);
        }
    }
    font_form->addRow(tr("Character set:"), m_charset);
    m_text_colour = new QPushButton(tr("Text colour..."), font_box);
    m_text_colour->setObjectName("text_colour");
    m_outline_colour = new QPushButton(tr("Outline colour..."), font_box);
    m_outline_colour->setObjectName("outline_colour");
    for (auto [button, swatch, name] :
         {std::tuple{m_text_colour, &m_text_swatch, "text_swatch"},
          std::tuple{m_outline_colour, &m_outline_swatch, "outline_swatch"}}) {
        *swatch = new QLabel(font_box);
        (*swatch)->setObjectName(name);
        (*swatch)->setFixedSize(24, 24);
        auto* row = new QHBoxLayout;
        row->addWidget(button, 1);
        row->addWidget(*swatch);
        font_form->addRow(row);
    }
    m_outline = spin(font_box, -99, 99, "outline_size");
    font_form->addRow(tr("Outline size:"), m_outline);
    grid->addWidget(font_box, 0, 0);

    auto* place_box = new QGroupBox(tr("Alignment and margins"), this);
    auto* place_form = new QFormLayout(place_box);
    auto* h_row = new QHBoxLayout;
    auto* h_group = new QButtonGroup(place_box);
    for (const auto& [label, name] :
         {std::pair{tr("Left"), "left"}, {tr("Centre"), "centre"}, {tr("Right"), "right"}}) {
        auto* radio = new QRadioButton(label, place_box);
        radio->setObjectName(QString("halign_") + name);
        h_group->addButton(radio);
        h_row->addWidget(radio);
        m_halign.push_back(radio);
    }
    place_form->addRow(tr("Horizontal:"), h_row);
    auto* v_row = new QHBoxLayout;
    auto* v_group = new QButtonGroup(place_box);
    for (const auto& [label, name] :
         {std::pair{tr("Bottom"), "bottom"}, {tr("Middle"), "middle"}, {tr("Top"), "top"}}) {
        auto* radio = new QRadioButton(label, place_box);
        radio->setObjectName(QString("valign_") + name);
        v_group->addButton(radio);
        v_row->addWidget(radio);
        m_valign.push_back(radio);
    }
    place_form->addRow(tr("Vertical:"), v_row);
    m_left = field(place_box, "left_margin");
    m_right = field(place_box, "right_margin");
    m_vertical = field(place_box, "vertical_margin");
    m_vertical_label = new QLabel(place_box);
    m_vertical_label->setObjectName("vertical_margin_label");
    m_vertical_label->setBuddy(m_vertical);
    place_form->addRow(tr("Left margin:"), m_left);
    place_form->addRow(tr("Right margin:"), m_right);
    place_form->addRow(m_vertical_label, m_vertical);
    m_internal_scale =
        check(place_box, tr("Show pixels and points in the internal scale"), "internal_scale");
    place_form->addRow(m_internal_scale);
    grid->addWidget(place_box, 0, 1);

    auto* text_box = new QGroupBox(tr("Spacing and drawing"), this);
    auto* text_form = new QFormLayout(text_box);
    m_extra_spacing = field(text_box, "extra_spacing");
    m_extra_spacing->setPlaceholderText(tr("global"));
    m_line_spacing = spin(text_box, 0, 2000, "style_line_spacing");
    m_line_spacing->setSpecialValueText(tr("global"));
    m_italics_left = spin(text_box, -100, 100, "italics_left");
    m_italics_right = spin(text_box, -100, 100, "italics_right");
    m_aa_average = spin(text_box, 0, 100, "aa_average");
    m_face_threshold = spin(text_box, 0, 255, "face_threshold");
    m_aa_threshold = spin(text_box, 0, 255, "aa_threshold");
    m_kerning = check(text_box, tr("Kerning"), "kerning");
    m_ligatures = check(text_box, tr("Ligatures"), "ligatures");
    m_diacritics = check(text_box, tr("Diacritics"), "diacritics");
    text_form->addRow(tr("Extra character spacing:"), m_extra_spacing);
    text_form->addRow(tr("Line spacing %:"), m_line_spacing);
    text_form->addRow(tr("Italics correction left %:"), m_italics_left);
    text_form->addRow(tr("Italics correction right %:"), m_italics_right);
    text_form->addRow(tr("Anti-alias average %:"), m_aa_average);
    text_form->addRow(tr("Face threshold:"), m_face_threshold);
    text_form->addRow(tr("Anti-alias threshold:"), m_aa_threshold);
    text_form->addRow(m_kerning);
    text_form->addRow(m_ligatures);
    text_form->addRow(m_diacritics);
    grid->addWidget(text_box, 1, 0, 1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    m_sample_text = new QLineEdit(this);
    m_sample_text->setObjectName("sample_text");
    layout->addWidget(m_sample_text);
    m_sample = new QLabel(this);
    m_sample->setObjectName("sample");
    m_sample->setAlignment(Qt::AlignCenter);
    m_sample->setMinimumHeight(90);
    layout->addWidget(m_sample);
    layout->addWidget(ok_cancel(this));

    show_fields();
    auto changed = [this] {
        if (!m_showing) {
            read_fields();
            show_fields();
        }
    };
    for (QLineEdit* edit : {m_left, m_right, m_vertical, m_extra_spacing, m_sample_text}) {
        connect(edit, &QLineEdit::textEdited, this, changed);
    }
    for (QSpinBox* box : {m_outline, m_line_spacing, m_italics_left, m_italics_right, m_aa_average,
                          m_face_threshold, m_aa_threshold}) {
        connect(box, &QSpinBox::valueChanged, this, changed);
    }
    for (QCheckBox* box : {m_kerning, m_ligatures, m_diacritics}) {
        connect(box, &QCheckBox::toggled, this, changed);
    }
    for (QRadioButton* radio : m_halign) {
        connect(radio, &QRadioButton::toggled, this, changed);
    }
    for (QRadioButton* radio : m_valign) {
        connect(radio, &QRadioButton::toggled, this, changed);
    }
    connect(m_charset, &QComboBox::currentIndexChanged, this, changed);
    connect(m_internal_scale, &QCheckBox::toggled, this, [this](bool on) {
        if (m_showing) {
            return;
        }
        read_fields();
        document::set_internal_scale(m_fields, on);
        show_fields();
    });
    connect(choose, &QPushButton::clicked, this, &StyleEditorWindow::choose_font);
    connect(m_text_colour, &QPushButton::clicked, this,
            [this] { choose_colour(m_fields.text_colour); });
    connect(m_outline_colour, &QPushButton::clicked, this,
            [this] { choose_colour(m_fields.outline_colour); });
}

void StyleEditorWindow::read_fields() {
    document::StyleEditor& f = m_fields;
    f.charset = m_charset->currentData().toInt();
    f.outline_size = m_outline->value();
    static constexpr script::HAlign kH[] = {script::HAlign::Left, script::HAlign::Centre,
                                            script::HAlign::Right};
    static constexpr script::VAlign kV[] = {script::VAlign::Bottom, script::VAlign::Middle,
                                            script::VAlign::Top};
    for (size_t i = 0; i < 3; ++i) {
        if (m_halign[i]->isChecked()) {
            f.halign = kH[i];
        }
        if (m_valign[i]->isChecked()) {
            f.valign = kV[i];
        }
    }
    f.left_margin = u16(m_left->text());
    f.right_margin = u16(m_right->text());
    f.vertical_margin = u16(m_vertical->text());
    bool number = false;
    const int extra = m_extra_spacing->text().trimmed().toInt(&number);
    f.extra_spacing = number ? std::optional<int32_t>(extra) : std::nullopt;
    f.line_spacing = m_line_spacing->value();
    f.italics_left = m_italics_left->value();
    f.italics_right = m_italics_right->value();
    f.aa_average = m_aa_average->value();
    f.face_threshold = m_face_threshold->value();
    f.aa_threshold = m_aa_threshold->value();
    f.kerning = m_kerning->isChecked();
    f.ligatures = m_ligatures->isChecked();
    f.diacritics = m_diacritics->isChecked();
    f.internal_scale = m_internal_scale->isChecked();
    f.sample_text = u16(m_sample_text->text());
}

void StyleEditorWindow::show_fields() {
    m_showing = true;
    const document::StyleEditor& f = m_fields;
    QString font = qt(f.face) + ", " + QString::number(document::shown_font_size(f));
    if (f.bold) {
        font += tr(", bold");
    }
    if (f.italic) {
        font += tr(", italic");
    }
    m_font->setText(font);
    select_data(m_charset, f.charset);
    paint_swatch(m_text_swatch, f.text_colour);
    paint_swatch(m_outline_swatch, f.outline_colour);
    m_outline->setValue(f.outline_size);
    m_halign[f.halign == script::HAlign::Left    ? 0
             : f.halign == script::HAlign::Right ? 2
                                                 : 1]
        ->setChecked(true);
    m_valign[f.valign == script::VAlign::Bottom ? 0
             : f.valign == script::VAlign::Top  ? 2
                                                : 1]
        ->setChecked(true);
    m_left->setText(qt(f.left_margin));
    m_right->setText(qt(f.right_margin));
    m_vertical->setText(qt(f.vertical_margin));
    m_vertical_label->setText(qt(document::vertical_margin_label(f.valign)));
    m_extra_spacing->setText(f.extra_spacing ? QString::number(*f.extra_spacing) : QString());
    m_line_spacing->setValue(f.line_spacing);
    m_italics_left->setValue(f.italics_left);
    m_italics_right->setValue(f.italics_right);
    m_aa_average->setValue(f.aa_average);
    m_face_threshold->setValue(f.face_threshold);
    m_aa_threshold->setValue(f.aa_threshold);
    m_kerning->setChecked(f.kerning);
    m_ligatures->setChecked(f.ligatures);
    m_diacritics->setChecked(f.diacritics);
    m_internal_scale->setChecked(f.internal_scale);
    if (m_sample_text->text() != qt(f.sample_text)) {
        m_sample_text->setText(qt(f.sample_text));
    }
    m_showing = false;
    draw_sample();
}

void StyleEditorWindow::draw_sample() {
    const script::Style* original = m_document.script().find_style(m_fields.style_name);
    if (original == nullptr) {
        return;
    }
    const script::Style style = document::style_from_editor(m_fields, *original);
    // A sample that cannot be drawn is simply not shown; nothing to report while typing.
    base::SilentMessages quiet;
    show_sample(m_sample, m_sample_image,
                m_document.draw_sample(style, m_fields.sample_text, quiet));
}

void StyleEditorWindow::choose_font() {
    read_fields();
    QFont current(qt(m_fields.face));
    current.setPointSize(std::max(1, document::shown_font_size(m_fields)));
    current.setBold(m_fields.bold);
    current.setItalic(m_fields.italic);
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, current, this, tr("Font"));
    if (!ok) {
        return;
    }
    m_fields.face = u16(chosen.family());
    m_fields.font_size = chosen.pointSize();
    m_fields.bold = chosen.bold();
    m_fields.italic = chosen.italic();
    show_fields();
}

void StyleEditorWindow::choose_colour(script::Colour& colour) {
    read_fields();
    const QColor chosen = QColorDialog::getColor(qt_colour(colour), this);
    if (chosen.isValid()) {
        colour = ssa_colour(chosen);
        show_fields();
    }
}

void StyleEditorWindow::accept() {
    read_fields();
    if (document::apply_style_editor(m_document, m_fields, m_messages)) {
        QDialog::accept();
    }
}

}  // namespace tessara::gui
