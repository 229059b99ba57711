#include "gui/subtitle_editor.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <array>

#include "base/messages.h"
#include "document/dialogs.h"
#include "document/document.h"
#include "document/rendering_dialogs.h"
#include "gui/dialog_parts.h"
#include "gui/qt_text.h"
#include "gui/rendering_dialogs.h"
#include "script/script.h"

namespace tessara::gui {

namespace {

const char* const kAbsoluteAdvice =
    "Best left unchecked. When checked, the time is kept as a fixed output time beside the "
    "subtitle instead of changing its time in the script, and later timing tools leave it alone.";

}  // namespace

// --- The text field ------------------------------------------------------------------------------

SubtitleTextEdit::SubtitleTextEdit(QWidget* parent, base::Preferences& preferences)
    : QPlainTextEdit(parent), m_preferences(preferences) {
    setTabChangesFocus(true);
    use_font();
}

QString SubtitleTextEdit::text() const {
    // toPlainText() would turn non-breaking spaces into plain ones; the raw text keeps them and
    // separates lines with the paragraph separator.
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, u'\n');
    raw.replace(QChar::LineSeparator, u'\n');
    return raw;
}

void SubtitleTextEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Every Enter is a forced break, whatever the modifiers: the field never closes the
        // dialog and never inserts a soft line separator.
        textCursor().insertText(QStringLiteral("\n"));
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void SubtitleTextEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    menu->addSeparator();
    const document::EditorFont font =
        document::read_editor_font(m_preferences, QApplication::font().pointSize());
    auto resize = [this, font](int32_t by) {
        document::write_editor_font(m_preferences, document::editor_font_resized(font, by));
        use_font();
    };
    menu->addAction(tr("Larger font"), this, [resize] { resize(1); });
    menu->addAction(tr("Smaller font"), this, [resize] { resize(-1); });
    menu->addAction(tr("Editor font..."), this, [this, font] {
        QFont current(qt(font.face), font.size);
        current.setBold(font.bold);
        current.setItalic(font.italic);
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, current, this, tr("Editor font"));
        if (!ok) {
            return;
        }
        document::EditorFont picked;
        picked.face = utf8(chosen.family());
        picked.size = chosen.pointSize();
        picked.bold = chosen.bold();
        picked.italic = chosen.italic();
        // Held to the size limits when it is read back.
        document::write_editor_font(m_preferences, picked);
        use_font();
    });
    menu->exec(event->globalPos());
    delete menu;
}

void SubtitleTextEdit::use_font() {
    const document::EditorFont font =
        document::read_editor_font(m_preferences, QApplication::font().pointSize());
    QFont shown(qt(font.face), font.size);
    shown.setBold(font.bold);
    shown.setItalic(font.italic);
    setFont(shown);
}

// --- The dialog ----------------------------------------------------------------------------------

SubtitleEditorWindow::SubtitleEditorWindow(QWidget* parent, document::Document& document,
                                           int32_t timeline_index, document::SubtitleEdit fields,
                                           int32_t& shown, base::Messages& messages,
                                           base::Preferences& preferences)
    : QDialog(parent),
      m_document(document),
      m_index(timeline_index),
      m_shown(shown),
      m_messages(messages),
      m_fields(std::move(fields)) {
    setWindowTitle(tr("Edit subtitle"));
    const script::Script& script = document.script();

    auto* form = new QFormLayout;
    auto* head = new QLineEdit(qt(m_fields.line_head), this);
    head->setObjectName("line_head");
    head->setReadOnly(true);
    form->addRow(tr("Line:"), head);

    auto* style_row = new QHBoxLayout;
    m_style = new QComboBox(this);
    m_style->setObjectName("style");
    for (const auto& style : script.styles()) {
        m_style->addItem(qt(document::display_text(script, style->name)), qt(style->name));
    }
    if (m_style->findData(qt(m_fields.style_name)) < 0) {
        // A style the script does not define stays what the line says until another is chosen.
        m_style->addItem(qt(document::display_text(script, m_fields.style_name)),
                         qt(m_fields.style_name));
    }
    m_style->setCurrentIndex(m_style->findData(qt(m_fields.style_name)));
    auto* edit_style = new QPushButton(tr("&Edit..."), this);
    edit_style->setObjectName("edit_style");
    style_row->addWidget(m_style, 1);
    style_row->addWidget(edit_style);
    auto* style_label = new QLabel(tr("&Style:"), this);
    style_label->setBuddy(m_style);
    form->addRow(style_label, style_row);

    auto* times = new QGridLayout;
    m_start = new QLineEdit(qt(m_fields.start), this);
    m_start->setObjectName("start");
    m_stop = new QLineEdit(qt(m_fields.stop), this);
    m_stop->setObjectName("stop");
    m_absolute_in = new QCheckBox(tr("Use ABSOLUTEIN"), this);
    m_absolute_in->setObjectName("absolute_in");
    m_absolute_in->setChecked(m_fields.absolute_in);
    m_absolute_out = new QCheckBox(tr("Use ABSOLUTEOUT"), this);
    m_absolute_out->setObjectName("absolute_out");
    m_absolute_out->setChecked(m_fields.absolute_out);
    for (QCheckBox* box : {m_absolute_in, m_absolute_out}) {
        box->setToolTip(tr(kAbsoluteAdvice));
    }
    const bool stop_is_next = script.settings.stop_is_next;
    auto* start_label = new QLabel(tr("S&tart:"), this);
    start_label->setBuddy(m_start);
    auto* stop_label = new QLabel(
        stop_is_next ? tr("St&op (first frame not shown):") : tr("St&op (last frame):"), this);
    stop_label->setBuddy(m_stop);
    times->addWidget(start_label, 0, 0);
    times->addWidget(m_start, 0, 1);
    times->addWidget(m_absolute_in, 0, 2);
    times->addWidget(stop_label, 1, 0);
    times->addWidget(m_stop, 1, 1);
    times->addWidget(m_absolute_out, 1, 2);
    form->addRow(times);

    auto* buttons = new QGridLayout;
    int column = 0;
    int row = 0;
    auto add_button = [&](const QString& label, const char* name) {
        auto* button = new QPushButton(label, this);
        button->setObjectName(name);
        button->setAutoDefault(false);
        button->setMinimumWidth(36);
        buttons->addWidget(button, row, column++);
        if (column == 10) {
            column = 0;
            ++row;
        }
        return button;
    };
    const auto& table = document::override_buttons();
    constexpr std::array<const char*, 3> kPlainNames = {"insert_nbsp", "insert_open_quote",
                                                        "insert_close_quote"};
    size_t plain = 0;
    for (const document::OverrideButton& b : table) {
        const std::string name = b.plain ? kPlainNames.at(plain++) : "tag_" + utf8(qt(b.insert));
        QPushButton* button = add_button(qt(b.label), name.c_str());
        const std::u16string_view insert = b.insert;
        if (b.plain) {
            connect(button, &QPushButton::clicked, this, [this, insert] { insert_text(insert); });
        } else {
            connect(button, &QPushButton::clicked, this, [this, insert] { insert_block(insert); });
        }
    }
    QPushButton* colour = add_button(tr("C"), "tag_colour");
    colour->setToolTip(tr("Colour..."));
    QPushButton* font = add_button(tr("F"), "tag_font");
    font->setToolTip(tr("Font..."));

    m_text = new SubtitleTextEdit(this, preferences);
    m_text->setObjectName("text");
    m_text->setPlainText(qt(m_fields.text));
    m_text->setMinimumHeight(90);

    m_sample = new QLabel(this);
    m_sample->setObjectName("sample");
    m_sample->setAlignment(Qt::AlignCenter);
    m_sample->setMinimumHeight(90);
    QSizePolicy keep = m_sample->sizePolicy();
    keep.setRetainSizeWhenHidden(true);  // hiding for the readability test moves nothing
    m_sample->setSizePolicy(keep);

    m_readability = new QPushButton(tr("&Readability test"), this);
    m_readability->setObjectName("readability");
    m_readability->setAutoDefault(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_readability);
    bottom->addStretch();
    QDialogButtonBox* ok = ok_cancel(this);
    bottom->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_sample);
    layout->addLayout(bottom);

    connect(m_text, &QPlainTextEdit::textChanged, this, &SubtitleEditorWindow::draw_sample);
    connect(m_style, &QComboBox::currentIndexChanged, this, &SubtitleEditorWindow::draw_sample);
    connect(edit_style, &QPushButton::clicked, this, &SubtitleEditorWindow::edit_style);
    connect(colour, &QPushButton::clicked, this, &SubtitleEditorWindow::choose_colour);
    connect(font, &QPushButton::clicked, this, &SubtitleEditorWindow::choose_font);
    connect(m_readability, &QPushButton::clicked, this, &SubtitleEditorWindow::test_readability);
    m_text->setFocus();
    draw_sample();
}

document::SubtitleEdit SubtitleEditorWindow::read_fields() const {
    document::SubtitleEdit f = m_fields;
    f.style_name = u16(m_style->currentData().toString());
    f.text = u16(m_text->text());
    f.start = u16(m_start->text());
    f.stop = u16(m_stop->text());
    f.absolute_in = m_absolute_in->isChecked();
    f.absolute_out = m_absolute_out->isChecked();
    return f;
}

void SubtitleEditorWindow::insert_block(std::u16string_view tag) {
    QTextCursor cursor = m_text->textCursor();
    const std::u16string text = u16(m_text->text());
    const size_t at =
        document::override_insertion_point(text, static_cast<size_t>(cursor.position()));
    std::u16string block = u"{\\";
    block.append(tag);
    block += u'}';
    // Inserted through the cursor, so that it is one step of the field's undo.
    cursor.clearSelection();
    cursor.setPosition(static_cast<int>(at));
    cursor.insertText(qt(block));
    m_text->setTextCursor(cursor);
    m_text->setFocus();
}

void SubtitleEditorWindow::insert_text(std::u16string_view text) {
    m_text->textCursor().insertText(qt(text));
    m_text->setFocus();
}

void SubtitleEditorWindow::choose_colour() {
    const QColor chosen = QColorDialog::getColor(Qt::white, this);
    if (chosen.isValid()) {
        insert_block(document::colour_tag(ssa_colour(chosen)));
    }
}

void SubtitleEditorWindow::choose_font() {
    const script::Style* style =
        m_document.script().find_style(u16(m_style->currentData().toString()));
    QFont current = m_text->font();
    int32_t style_charset = 0;
    if (style != nullptr) {
        current = QFont(qt(style->face),
                        std::max(1, style->font_size(m_document.script().settings.old_scale())));
        current.setBold(style->bold);
        current.setItalic(style->italic);
        style_charset = style->charset;
    }
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, current, this, tr("Font"));
    if (!ok) {
        return;
    }
    // The font picker knows no character sets: the style's is kept.
    document::PickedFont picked{u16(chosen.family()), chosen.pointSize(), chosen.weight(),
                                chosen.italic(), style_charset};
    insert_block(document::font_tag(picked, style_charset));
}

void SubtitleEditorWindow::edit_style() {
    const std::u16string name = u16(m_style->currentData().toString());
    auto editor = document::fill_style_editor(m_document, name);
    if (!editor) {
        return;
    }
    const script::Style* style = m_document.script().find_style(name);
    const int32_t id_before = style->id;
    StyleEditorWindow(this, m_document, std::move(*editor), m_messages).exec();
    // An edited style takes a new id; OK without a change keeps it.
    style = m_document.script().find_style(name);
    if (style != nullptr && style->id != id_before) {
        m_style_edited = true;
    }
    draw_sample();
}

void SubtitleEditorWindow::draw_sample() {
    const script::Style* style =
        m_document.script().find_style(u16(m_style->currentData().toString()));
    if (style == nullptr) {
        m_sample_image = QImage();
        m_sample->clear();
        return;
    }
    // A sample that cannot be drawn is simply not shown; nothing to report while typing.
    base::SilentMessages quiet;
    show_sample(m_sample, m_sample_image,
                m_document.draw_sample(*style, document::sample_text(u16(m_text->text())), quiet));
}

void SubtitleEditorWindow::test_readability() {
    const std::optional<int32_t> millis = document::readability_millis(m_document, read_fields());
    if (!millis || *millis == 0) {
        QApplication::beep();
        return;
    }
    // The sample disappears, comes back for as long as the subtitle would be shown, and goes
    // again, so that the user can try reading it in that time.
    m_readability->setEnabled(false);
    m_sample->setVisible(false);
    const int shown_for = *millis;
    QTimer::singleShot(document::kReadabilityLeadMillis, this, [this, shown_for] {
        QApplication::beep();
        m_sample->setVisible(true);
        QTimer::singleShot(shown_for, this, [this] {
            QApplication::beep();
            m_sample->setVisible(false);
            QTimer::singleShot(document::kReadabilityTailMillis, this, [this] {
                m_sample->setVisible(true);
                m_readability->setEnabled(true);
            });
        });
    });
}

void SubtitleEditorWindow::accept() {
    switch (
        document::apply_subtitle_edit(m_document, m_index, read_fields(), m_shown, m_messages)) {
        case document::SubtitleEditResult::Refused:
            return;
        case document::SubtitleEditResult::Changed:
            m_changed = true;
            break;
        case document::SubtitleEditResult::Unchanged:
            break;
    }
    QDialog::accept();
}

bool edit_subtitle(QWidget* parent, document::Document& document, int32_t timeline_index,
                   int32_t& shown_subpicture, base::Messages& messages,
                   base::Preferences& preferences) {
    auto fields = document::load_subtitle_edit(document, timeline_index);
    if (!fields) {
        return false;
    }
    SubtitleEditorWindow window(parent, document, timeline_index, std::move(*fields),
                                shown_subpicture, messages, preferences);
    window.exec();
    if (window.style_edited() && !window.subtitle_changed()) {
        // A style edited here changes how the subtitles are drawn even when the subtitle itself
        // was left alone.
        document::refresh_build(document, timeline_index, shown_subpicture, messages);
    }
    return window.changed();
}

}  // namespace tessara::gui
