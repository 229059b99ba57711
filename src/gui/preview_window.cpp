#include "gui/preview_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/messages.h"
#include "document/dialogs.h"
#include "document/document.h"
#include "document/preview_dialogs.h"
#include "gui/dialog_parts.h"
#include "gui/feed_window.h"
#include "gui/file_dialog.h"
#include "gui/preview_dialogs.h"
#include "gui/progress_dialog.h"
#include "gui/qt_text.h"
#include "gui/subtitle_editor.h"
#include "script/script.h"

namespace tessara::gui {

namespace {

// The six distance buttons: left, centre and right of the selected subtitle from the frame's
// left edge; top, middle and bottom from its top.
constexpr std::array<const char*, 6> kDistanceNames = {"left_edge", "centre", "right_edge",
                                                       "top_edge",  "middle", "bottom_edge"};
constexpr std::array<const char*, 6> kDistanceLabels = {"L", "C", "R", "T", "M", "B"};

QPushButton* push(QWidget* parent, const QString& text, const char* name,
                  const char* tip = nullptr) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    if (tip != nullptr) {
        b->setToolTip(QString::fromUtf8(tip));
    }
    return b;
}

}  // namespace

// --- the canvas ------------------------------------------------------------------------------

PreviewCanvas::PreviewCanvas(PreviewWindow& window) : QWidget(&window), m_window(window) {
    setObjectName("canvas");
    setMouseTracking(false);
}

void PreviewCanvas::set_image(QImage image) {
    m_image = std::move(image);
    setFixedSize(m_image.size() * m_zoom);
    update();
}

void PreviewCanvas::set_zoom(int zoom) {
    m_zoom = std::clamp(zoom, 1, 4);
    setFixedSize(m_image.size() * m_zoom);
    update();
}

QPoint PreviewCanvas::frame_point(const QPointF& p) const {
    return {static_cast<int>(p.x()) / m_zoom, static_cast<int>(p.y()) / m_zoom};
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.scale(m_zoom, m_zoom);
    painter.drawImage(0, 0, m_image);
    const document::PreviewDisplay& d = m_window.m_display;
    document::PreviewSession& s = m_window.m_session;
    const int w = m_image.width();
    const int h = m_image.height();
    // Letterbox bands where the film's picture is cropped.
    painter.fillRect(0, 0, w, std::min(d.crop_above, h), QColor(0, 0, 0, 160));
    painter.fillRect(0, h - std::min(d.crop_below, h), w, std::min(d.crop_below, h),
                     QColor(0, 0, 0, 160));
    if (d.show_safe) {
        const document::Box safe =
            document::safe_area(w, h, m_window.m_document.script().settings.safe_frm);
        painter.setPen(QPen(QColor(255, 255, 0, 180), 0, Qt::DotLine));
        painter.drawRect(safe.x, safe.y, safe.width - 1, safe.height - 1);
    }
    if (d.show_guides) {
        painter.setPen(QPen(QColor(0, 255, 255, 200), 0, Qt::DashLine));
        for (int32_t x : d.guides.vertical) {
            painter.drawLine(x, 0, x, h - 1);
        }
        for (int32_t y : d.guides.horizontal) {
            painter.drawLine(0, y, w - 1, y);
        }
    }
    const std::vector<document::Box> boxes = s.boxes();
    const auto& members = s.subpicture().members;
    for (size_t i = 0; i < boxes.size(); ++i) {
        document::Box b = boxes[i];
        if (m_window.m_drag && m_window.m_drag->member == static_cast<int32_t>(i)) {
            b = m_window.m_drag->box;
        }
        const auto& uo = members[i].event->user_override;
        if (d.show_snaps && uo && uo->has_position()) {
            // The anchor the manual position keeps.
            const int ax = b.x + (uo->snap_x == 1   ? b.width / 2
                                  : uo->snap_x == 2 ? b.width - 1
                                                    : 0);
            const int ay = b.y + (uo->snap_y == 1   ? b.height / 2
                                  : uo->snap_y == 2 ? b.height - 1
                                                    : 0);
            painter.setPen(QPen(QColor(255, 0, 255), 0));
            painter.drawLine(ax - 4, ay, ax + 4, ay);
            painter.drawLine(ax, ay - 4, ax, ay + 4);
        }
        if (static_cast<int32_t>(i) == s.selected()) {
            painter.setPen(QPen(QColor(255, 64, 64), 0, Qt::SolidLine));
            painter.drawRect(b.x, b.y, b.width - 1, b.height - 1);
        }
    }
}

void PreviewCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_window.press(frame_point(event->position()), event->modifiers());
    }
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) != 0) {
        m_window.drag(frame_point(event->position()), event->modifiers());
    }
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_window.release(frame_point(event->position()), event->modifiers());
    }
}

void PreviewCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_window.double_click(frame_point(event->position()));
    }
}

// --- the window ------------------------------------------------------------------------------

PreviewWindow::PreviewWindow(QWidget* parent, document::Document& document,
                             base::Messages& messages, base::Preferences& preferences)
    : QDialog(parent),
      m_document(document),
      m_messages(messages),
      m_preferences(preferences),
      m_session(document),
      m_display(document::PreviewDisplay::from(document.script().settings.values())),
      m_server(messages) {
    setObjectName("preview");
    setWindowTitle(tr("Edit subpictures"));
    build_controls();
    load_background();
    refresh();
}

QWidget* PreviewWindow::control(const QString& name) const {
    return findChild<QWidget*>(name);
}

void PreviewWindow::build_controls() {
    auto* layout = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    m_canvas = new PreviewCanvas(*this);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidget(m_canvas);
    m_scroll->setAlignment(Qt::AlignCenter);
    // The whole frame at its own size (output frames are 720 x 576 at most).
    m_scroll->setMinimumSize(m_session.frame_width() + 2 * m_scroll->frameWidth(),
                             m_session.frame_height() + 2 * m_scroll->frameWidth());
    left->addWidget(m_scroll, 1);

    m_position = new QSlider(Qt::Horizontal, this);
    m_position->setObjectName("position");
    m_position->setRange(static_cast<int>(m_session.first_frame()),
                         static_cast<int>(m_session.last_frame()));
    m_position->setPageStep(static_cast<int>(
        document::slider_page_step(m_session.first_frame(), m_session.last_frame())));
    connect(m_position, &QSlider::valueChanged, this, [this](int value) {
        if (!m_refreshing) {
            m_session.show_frame(value);
            refresh();
        }
    });
    m_jog = new QSlider(Qt::Horizontal, this);
    m_jog->setObjectName("jog");
    m_jog->setRange(1, 2 * document::kJogRest - 1);
    m_jog->setValue(document::kJogRest);
    m_jog->setMaximumWidth(160);
    connect(m_jog, &QSlider::sliderPressed, this, [this] { m_jog_start = m_session.frame(); });
    connect(m_jog, &QSlider::valueChanged, this, [this](int value) {
        if (m_jog->isSliderDown()) {
            m_session.show_frame(document::jog_frame(m_jog_start, value, m_session.first_frame(),
                                                     m_session.last_frame()));
            refresh();
        }
    });
    connect(m_jog, &QSlider::sliderReleased, this, [this] { m_jog->setValue(document::kJogRest); });
    auto* sliders = new QHBoxLayout;
    sliders->addWidget(m_position, 1);
    sliders->addWidget(new QLabel(tr("Jog:"), this));
    sliders->addWidget(m_jog);
    left->addLayout(sliders);
    layout->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    auto* times = new QGroupBox(tr("Subpicture"), this);
    auto* tf = new QFormLayout(times);
    m_start = push(this, {}, "start", "Click to jump to a new start frame.");
    connect(m_start, &QPushButton::clicked, this, &PreviewWindow::jump_to_start);
    m_stop = new QLabel(this);
    m_stop->setObjectName("stop");
    tf->addRow(tr("Start:"), m_start);
    tf->addRow(tr("Stop:"), m_stop);
    auto* steps = new QHBoxLayout;
    auto* previous =
        push(this, tr("<< Previous"), "previous", "Click to move to the previous subpicture.");
    auto* next = push(this, tr("Next >>"), "next", "Click to move to the next subpicture.");
    connect(previous, &QPushButton::clicked, this, [this] {
        m_session.previous();
        refresh();
    });
    connect(next, &QPushButton::clicked, this, [this] {
        m_session.next();
        refresh();
    });
    steps->addWidget(previous);
    steps->addWidget(next);
    tf->addRow(steps);
    m_stop_is_next = new QCheckBox(tr("Stop is FNV"), this);
    m_stop_is_next->setObjectName("stop_is_next");
    m_stop_is_next->setToolTip(
        "If set, the stop time is the first frame in which the current subpicture is no longer "
        "visible. If unset, the stop time is the last frame in which the current subpicture is "
        "visible.");
    connect(m_stop_is_next, &QCheckBox::toggled, this, [this](bool on) {
        m_display.stop_is_next = on;
        refresh();
    });
    tf->addRow(m_stop_is_next);
    m_time = new QLabel(this);
    m_time->setObjectName("time");
    m_time->setToolTip("Shows the time for the current preview frame.");
    tf->addRow(tr("Current time:"), m_time);
    m_no_sound = new QCheckBox(tr("No sound"), this);
    m_no_sound->setObjectName("no_sound");
    m_no_sound->setToolTip("Sound is only available with MPEG1 background files.");
    connect(m_no_sound, &QCheckBox::toggled, this, [this](bool on) { m_display.no_sound = on; });
    tf->addRow(m_no_sound);
    right->addWidget(times);

    auto* subtitle = new QGroupBox(tr("Subtitle"), this);
    auto* sl = new QVBoxLayout(subtitle);
    m_subtitle_times = new QLabel(this);
    m_subtitle_times->setObjectName("subtitle_times");
    sl->addWidget(m_subtitle_times);
    auto* grid = new QGridLayout;
    for (int i = 0; i < 6; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(kDistanceNames[static_cast<size_t>(i)]);
        b->setCheckable(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setMinimumWidth(64);
        b->setToolTip(
            tr("Sunk: this edge snaps to the guides. Ctrl+click adds or removes a "
               "guide here."));
        connect(b, &QToolButton::clicked, this, [this, i] { distance_clicked(i); });
        grid->addWidget(b, i / 3, i % 3);
        m_distances[static_cast<size_t>(i)] = b;
    }
    m_distances[0]->setChecked(true);
    m_distances[3]->setChecked(true);
    sl->addLayout(grid);
    m_restore = push(this, tr("Restore"), "restore");
    connect(m_restore, &QPushButton::clicked, this, [this] {
        m_session.restore_selected(m_messages);
        refresh();
    });
    m_manual = new QCheckBox(tr("Manual position"), this);
    m_manual->setObjectName("manual");
    connect(m_manual, &QCheckBox::clicked, this, [this](bool on) {
        if (!on) {
            m_session.clear_selected_position(m_messages);
        }
        refresh();
    });
    m_edit = push(this, tr("Edit..."), "edit");
    connect(m_edit, &QPushButton::clicked, this, &PreviewWindow::edit_selected);
    m_next_subtitle = push(this, tr("Next subtitle"), "next_subtitle",
                           "Click to cycle the selection among the subtitles in this subpicture.");
    connect(m_next_subtitle, &QPushButton::clicked, this, [this] {
        m_session.select_next();
        refresh();
    });
    auto* row = new QHBoxLayout;
    row->addWidget(m_restore);
    row->addWidget(m_manual);
    sl->addLayout(row);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(m_edit);
    row2->addWidget(m_next_subtitle);
    sl->addLayout(row2);
    right->addWidget(subtitle);

    auto* guides = push(this, tr("Guides..."), "guides");
    connect(guides, &QPushButton::clicked, this, &PreviewWindow::open_guides);
    auto* background = push(this, tr("Background..."), "background");
    connect(background, &QPushButton::clicked, this, &PreviewWindow::open_background);
    auto* feed = push(this, tr("Feed plug-in..."), "feed",
                      "Click here to feed the VirtualDub plugin with the subtitle data. This only "
                      "works in NT based systems like Windows NT, 2000 and XP.");
    connect(feed, &QPushButton::clicked, this, &PreviewWindow::feed);
    auto* row3 = new QHBoxLayout;
    row3->addWidget(guides);
    row3->addWidget(background);
    right->addLayout(row3);
    right->addWidget(feed);

    right->addWidget(new QLabel(tr("Outside the safe area:"), this));
    m_outside_safe = new QListWidget(this);
    m_outside_safe->setObjectName("outside_safe");
    m_outside_safe->setMaximumHeight(110);
    connect(m_outside_safe, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        m_session.show_frame(item->data(Qt::UserRole).toLongLong());
        refresh();
    });
    right->addWidget(m_outside_safe);
    right->addStretch(1);
    auto* close = push(this, tr("Close"), "close", "Click to close this dialog.");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    right->addWidget(close);
    layout->addLayout(right);

    m_stop_is_next->setChecked(m_display.stop_is_next);
    m_no_sound->setChecked(m_display.no_sound);
}

void PreviewWindow::load_background() {
    m_background.reset();
    m_movie.reset();
    m_movie_background = -1;
    if (m_display.background == document::BackgroundKind::Movie) {
        auto movie = std::make_unique<media::Movie>();
        ProgressDialog progress(this, tr("Reading the movie"));
        const std::string path = utf8(qt(m_display.back_movie));
        if (!progress.run([&](base::Progress& p) { return movie->open(path, p, m_messages); })) {
            m_display.background = document::BackgroundKind::Colour;
            return;
        }
        movie->set_do_levels(m_display.do_levels);
        m_movie_offset = 0;
        if (!m_display.back_offset.empty()) {
            m_movie_offset = m_session.frame_of_timecode(m_display.back_offset).value_or(0);
        }
        m_movie = std::move(movie);
        if (m_movie_offset + m_movie->frame_count() <= m_session.last_frame() &&
            m_messages.ask(document::kMovieShorterText, base::AskKind::YesNo) ==
                base::Answer::Yes) {
            open_background();
        }
        return;
    }
    if (m_display.background == document::BackgroundKind::Picture) {
        QImage picture(qt(m_display.back_picture));
        if (picture.isNull()) {
            m_messages.error(document::kBackgroundPictureErrorText);
            m_display.background = document::BackgroundKind::Colour;
            return;
        }
        set_background(picture.scaled(m_session.frame_width(), m_session.frame_height(),
                                      Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
}

void PreviewWindow::set_background(std::optional<QImage> picture) {
    m_background.reset();
    if (picture) {
        m_background = ssa_bitmap(*picture);
    }
    paint_frame();
}

void PreviewWindow::paint_frame() {
    document::DraggedMember dragged;
    if (m_drag) {
        dragged = {m_drag->member, m_drag->box};
    }
    m_canvas->set_image(qt_image(m_session.paint(background_for_frame(), m_display.back_color,
                                                 m_drag ? &dragged : nullptr)));
}

const render::Bitmap<uint32_t>* PreviewWindow::background_for_frame() {
    if (!m_movie) {
        return m_background ? &*m_background : nullptr;
    }
    const auto n = document::PreviewSession::movie_frame(m_session.frame(), m_movie_offset,
                                                         m_movie->frame_count());
    if (!n) {
        return nullptr;  // outside the movie: the colour
    }
    if (*n != m_movie_background) {
        m_background.reset();
        m_movie_background = *n;
        if (auto frame = m_movie->frame(*n)) {
            // The lines cropped above and below are left out before the picture fills the frame.
            const int above = std::clamp(m_display.crop_above, 0, frame->height - 1);
            const int below = std::clamp(m_display.crop_below, 0, frame->height - 1 - above);
            const QImage whole(reinterpret_cast<const uchar*>(frame->pixels.data()), frame->width,
                               frame->height, frame->width * 4, QImage::Format_RGB32);
            m_background =
                ssa_bitmap(whole.copy(0, above, frame->width, frame->height - above - below)
                               .scaled(m_session.frame_width(), m_session.frame_height(),
                                       Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        }
    }
    return m_background ? &*m_background : nullptr;
}

void PreviewWindow::refresh() {
    m_refreshing = true;
    const bool fnv = m_display.stop_is_next;
    m_start->setText(qt(m_session.timecode(m_session.start().frame)));
    m_stop->setText(qt(m_session.stop_text(fnv)));
    m_time->setText(qt(m_session.timecode(m_session.frame())));
    // A delete or an undo can change the timeline's extent.
    m_position->setRange(static_cast<int>(m_session.first_frame()),
                         static_cast<int>(m_session.last_frame()));
    m_position->setValue(static_cast<int>(m_session.frame()));
    const bool selected = m_session.selected() >= 0;
    const auto [start, stop] = m_session.selected_times(fnv);
    m_subtitle_times->setText(selected ? tr("Start %1   Stop %2").arg(qt(start), qt(stop))
                                       : tr("No subtitle selected"));
    const std::vector<document::Box> boxes = m_session.boxes();
    for (size_t i = 0; i < m_distances.size(); ++i) {
        QString text = kDistanceLabels[i];
        if (selected) {
            const document::Box& b = boxes[static_cast<size_t>(m_session.selected())];
            const int32_t values[6] = {
                b.x,
                document::snap_reference(b.x, b.width, document::SnapEdge::Middle),
                document::snap_reference(b.x, b.width, document::SnapEdge::High),
                b.y,
                document::snap_reference(b.y, b.height, document::SnapEdge::Middle),
                document::snap_reference(b.y, b.height, document::SnapEdge::High)};
            text += QString(" %1").arg(values[i]);
        }
        m_distances[i]->setText(text);
    }
    m_restore->setEnabled(selected && m_session.selected_has_moved());
    m_manual->setEnabled(selected && m_session.selected_is_manual());
    m_manual->setChecked(selected && m_session.selected_is_manual());
    m_edit->setEnabled(selected);
    m_next_subtitle->setEnabled(m_session.subpicture().members.size() > 1);

    const auto& settings = m_document.script().settings;
    const auto outside = m_session.outside_safe_area(
        document::safe_area(m_session.frame_width(), m_session.frame_height(), settings.safe_frm));
    std::vector<std::pair<int64_t, int64_t>> keys;
    for (const auto& entry : outside) {
        keys.emplace_back(entry.frame, entry.event);
    }
    // The list is made again only when it changed: a click on it refreshes the window.
    if (keys != m_outside_keys) {
        m_outside_keys = std::move(keys);
        m_outside_safe->clear();
        for (const auto& entry : outside) {
            auto* item =
                new QListWidgetItem(qt(m_session.timecode(entry.frame)) + "  " +
                                        qt(document::display_text(m_document.script(), entry.text)),
                                    m_outside_safe);
            item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(entry.frame));
        }
    }
    paint_frame();
    m_refreshing = false;
}

document::SnapEdge PreviewWindow::snap_edge(bool horizontal) const {
    const size_t first = horizontal ? 0 : 3;
    for (size_t i = 0; i < 3; ++i) {
        if (m_distances[first + i]->isChecked()) {
            return static_cast<document::SnapEdge>(static_cast<int>(document::SnapEdge::Low) +
                                                   static_cast<int>(i));
        }
    }
    return document::SnapEdge::None;
}

void PreviewWindow::distance_clicked(int button) {
    const auto i = static_cast<size_t>(button);
    const bool horizontal = i < 3;
    if ((QApplication::keyboardModifiers() & Qt::ControlModifier) != 0) {
        // Ctrl+click: a guide at the position the button shows, or away with the one there.
        m_distances[i]->setChecked(!m_distances[i]->isChecked());
        if (m_session.selected() >= 0) {
            const document::Box b = m_session.boxes()[static_cast<size_t>(m_session.selected())];
            const auto edge = static_cast<document::SnapEdge>(1 + static_cast<int>(i % 3));
            const int32_t at = horizontal ? document::snap_reference(b.x, b.width, edge)
                                          : document::snap_reference(b.y, b.height, edge);
            document::toggle_guide(
                horizontal ? m_display.guides.vertical : m_display.guides.horizontal, at);
        }
        refresh();
        return;
    }
    // One edge per axis at most: sinking one raises the others.
    const size_t first = horizontal ? 0 : 3;
    for (size_t k = first; k < first + 3; ++k) {
        if (k != i) {
            m_distances[k]->setChecked(false);
        }
    }
}

void PreviewWindow::press(QPoint p, Qt::KeyboardModifiers) {
    const int32_t selected = m_session.selected();
    const std::vector<document::Box> boxes = m_session.boxes();
    if (selected >= 0 && boxes[static_cast<size_t>(selected)].contains(p.x(), p.y()) &&
        m_session.selected_has_moved()) {
        // Anchor mode: the pointer's third of the box picks the anchors.
        m_drag = Drag{selected, boxes[static_cast<size_t>(selected)],
                      p,        boxes[static_cast<size_t>(selected)],
                      true,     false};
        drag(p, {});
        return;
    }
    const int32_t member = m_session.member_at(p.x(), p.y());
    m_session.select(member);
    if (member >= 0) {
        const document::Box b = boxes[static_cast<size_t>(member)];
        m_drag = Drag{member, b, p, b, false, false};
    } else {
        m_drag.reset();
    }
    refresh();
}

void PreviewWindow::drag(QPoint p, Qt::KeyboardModifiers modifiers) {
    if (!m_drag) {
        return;
    }
    if (m_drag->anchors) {
        const document::Box& b = m_drag->start;
        m_session.set_selected_anchors(document::anchor_third(p.x() - b.x, b.width),
                                       document::anchor_third(p.y() - b.y, b.height), m_messages);
        refresh();
        return;
    }
    m_drag->moved = m_drag->moved || p != m_drag->pointer;
    const document::Box moved =
        document::dragged_box(m_drag->start, m_drag->pointer.x(), m_drag->pointer.y(), p.x(), p.y(),
                              (modifiers & Qt::ControlModifier) != 0);
    m_drag->box = document::snap_box(moved, m_display.guides, snap_edge(true), snap_edge(false));
    paint_frame();
}

void PreviewWindow::release(QPoint p, Qt::KeyboardModifiers modifiers) {
    if (!m_drag) {
        return;
    }
    drag(p, modifiers);
    const Drag done = *m_drag;
    m_drag.reset();
    if (!done.anchors && done.moved) {
        m_session.move_selected(done.box, m_messages);  // refused outside the frame
    }
    refresh();
}

void PreviewWindow::double_click(QPoint p) {
    m_drag.reset();
    const int32_t member = m_session.member_at(p.x(), p.y());
    if (member >= 0) {
        m_session.select(member);
        refresh();
        edit_selected();
    }
}

void PreviewWindow::nudge(int dx, int dy) {
    if (m_session.selected() < 0) {
        return;
    }
    document::Box b = m_session.boxes()[static_cast<size_t>(m_session.selected())];
    b.x += dx;
    b.y += dy;
    b = document::snap_box(b, m_display.guides,
                           dx != 0 ? snap_edge(true) : document::SnapEdge::None,
                           dy != 0 ? snap_edge(false) : document::SnapEdge::None);
    m_session.move_selected(b, m_messages);
    refresh();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    const int step = (event->modifiers() & Qt::ShiftModifier) != 0 ? 10 : 1;
    switch (event->key()) {
        case Qt::Key_Left:
            nudge(-step, 0);
            return;
        case Qt::Key_Right:
            nudge(step, 0);
            return;
        case Qt::Key_Up:
            nudge(0, -step);
            return;
        case Qt::Key_Down:
            nudge(0, step);
            return;
        case Qt::Key_PageUp:
            m_session.previous();
            refresh();
            return;
        case Qt::Key_PageDown:
            m_session.next();
            refresh();
            return;
        case Qt::Key_Comma:
            m_session.show_frame(m_session.frame() - 1);
            refresh();
            return;
        case Qt::Key_Period:
            m_session.show_frame(m_session.frame() + 1);
            refresh();
            return;
        case Qt::Key_Tab:
            m_session.select_next();
            refresh();
            return;
        case Qt::Key_Delete:
            m_session.delete_selected(m_messages);
            refresh();
            return;
        case Qt::Key_Z:
            if (ctrl) {
                ((event->modifiers() & Qt::ShiftModifier) != 0 ? m_session.redo(m_messages)
                                                               : m_session.undo(m_messages));
                refresh();
                return;
            }
            break;
        case Qt::Key_Y:
            if (ctrl) {
                m_session.redo(m_messages);
                refresh();
                return;
            }
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            if (ctrl) {
                m_canvas->set_zoom(m_canvas->zoom() + 1);
                return;
            }
            break;
        case Qt::Key_Minus:
            if (ctrl) {
                m_canvas->set_zoom(m_canvas->zoom() - 1);
                return;
            }
            break;
        default:
            break;
    }
    QDialog::keyPressEvent(event);
}

void PreviewWindow::jump_to_start() {
    bool ok = false;
    const QString text =
        QInputDialog::getText(this, tr("Jump to"), tr("Start frame (HH:MM:SS:FF):"),
                              QLineEdit::Normal, m_start->text(), &ok);
    if (!ok) {
        return;
    }
    if (auto frame = m_session.frame_of_timecode(u16(text))) {
        m_session.show_frame(*frame);
        refresh();
    } else {
        m_messages.error(document::kInvalidSmpteText);
    }
}

void PreviewWindow::open_guides() {
    GuidesWindow dialog(this, m_display, m_session.frame_width(), m_session.frame_height(),
                        m_messages);
    if (dialog.exec() == QDialog::Accepted) {
        refresh();
    }
}

void PreviewWindow::open_background() {
    BackgroundWindow dialog(this, m_display, m_preferences, m_messages);
    if (dialog.exec() == QDialog::Accepted) {
        load_background();
        refresh();
    }
}

void PreviewWindow::edit_selected() {
    const int32_t subtitle = m_session.selected_subtitle();
    if (subtitle < 0) {
        return;
    }
    int32_t shown = m_session.shown();
    m_session.begin_edit();
    const bool changed =
        edit_subtitle(this, m_document, subtitle, shown, m_messages, m_preferences);
    m_session.end_edit(changed, shown);
    refresh();
}

void PreviewWindow::feed() {
    FeedWindow dialog(this);
    m_server.feed(m_document.last_build()->timeline, m_document.script().settings, dialog);
    dialog.hide();
    refresh();
}

void PreviewWindow::done(int result) {
    m_display.write_back(m_document);
    QDialog::done(result);
}

void open_preview(QWidget* parent, document::Document& document, base::Messages& messages,
                  base::Preferences& preferences) {
    const bool shift = (QApplication::keyboardModifiers() & Qt::ShiftModifier) != 0;
    switch (document::preview_opening(document, shift, messages)) {
        case document::PreviewOpening::Refused:
            return;
        case document::PreviewOpening::Rebuild: {
            ProgressDialog progress(parent, QObject::tr("Building subpictures"));
            if (!progress.run([&](base::Progress& p) {
                    return document::build_for_preview(document, &p, messages);
                })) {
                return;
            }
            break;
        }
        case document::PreviewOpening::Reuse:
            break;
    }
    PreviewWindow window(parent, document, messages, preferences);
    window.exec();
}

}  // namespace tessara::gui
