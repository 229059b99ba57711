#pragma once

#include <QDialog>
#include <QImage>
#include <array>
#include <optional>

#include "document/preview.h"
#include "link/server.h"
#include "media/movie.h"
#include "render/bitmap.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QSlider;
class QToolButton;

namespace tessara::base {
class Messages;
class Preferences;
}  // namespace tessara::base

namespace tessara::gui {

class PreviewWindow;

// The frame: the subpicture over its background, with guides, safe area, anchors and the
// selection drawn on top; mouse input goes to the window.
class PreviewCanvas final : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewCanvas(PreviewWindow& window);
    void set_image(QImage image);
    void set_zoom(int zoom);
    int zoom() const { return m_zoom; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    QPoint frame_point(const QPointF& widget_point) const;

    PreviewWindow& m_window;
    QImage m_image;
    int m_zoom = 1;
};

// Steps through the subpictures of the document's last build and lets the user place, edit and
// delete subtitles. Every decision is the session's (document/preview.h); closing writes the
// guides, display options and background back into the document.
class PreviewWindow final : public QDialog {
    Q_OBJECT
  public:
    PreviewWindow(QWidget* parent, document::Document& document, base::Messages& messages,
                  base::Preferences& preferences);

    document::PreviewSession& session() { return m_session; }
    document::PreviewDisplay& display() { return m_display; }
    PreviewCanvas& canvas() { return *m_canvas; }
    // A control by its object name ("next", "restore", "left_edge" ...), for tests and pictures.
    QWidget* control(const QString& name) const;

    // Shows the session's current state: picture, times, buttons.
    void refresh();
    void done(int result) override;

    // Mouse input from the canvas, in frame pixels.
    void press(QPoint point, Qt::KeyboardModifiers modifiers);
    void drag(QPoint point, Qt::KeyboardModifiers modifiers);
    void release(QPoint point, Qt::KeyboardModifiers modifiers);
    void double_click(QPoint point);

    // Sets the background picture (already scaled to the frame) or clears it.
    void set_background(std::optional<QImage> picture);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void build_controls();
    void paint_frame();
    document::SnapEdge snap_edge(bool horizontal) const;
    void distance_clicked(int button);
    void nudge(int dx, int dy);
    void jump_to_start();
    void open_guides();
    void open_background();
    void edit_selected();
    void load_background();
    void feed();
    // The background of the shown frame: the movie's picture for it, or the still picture.
    const render::Bitmap<uint32_t>* background_for_frame();

    friend class PreviewCanvas;

    document::Document& m_document;
    base::Messages& m_messages;
    base::Preferences& m_preferences;
    document::PreviewSession m_session;
    document::PreviewDisplay m_display;
    // Alive as long as the window: after one transfer only the changes travel.
    link::PreviewLinkServer m_server;
    std::optional<render::Bitmap<uint32_t>> m_background;  // SSA colours, the frame's size
    std::unique_ptr<media::Movie> m_movie;                 // the movie background, indexed
    int64_t m_movie_offset = 0;       // the output frame the movie's first frame stands at
    int64_t m_movie_background = -1;  // the movie frame m_background holds

    // A drag in progress: the member, its box and the pointer when it began, where it is now.
    struct Drag {
        int32_t member = -1;
        document::Box start;
        QPoint pointer;
        document::Box box;
        bool anchors = false;  // anchor mode: the pointer picks the anchors
        bool moved = false;
    };
    std::optional<Drag> m_drag;
    int64_t m_jog_start = 0;

    PreviewCanvas* m_canvas;
    QScrollArea* m_scroll;
    QPushButton* m_start;
    QLabel* m_stop;
    QLabel* m_time;
    QLabel* m_subtitle_times;
    QCheckBox* m_stop_is_next;
    QCheckBox* m_no_sound;
    std::array<QToolButton*, 6> m_distances{};
    QPushButton* m_restore;
    QCheckBox* m_manual;
    QPushButton* m_edit;
    QPushButton* m_next_subtitle;
    QSlider* m_position;
    QSlider* m_jog;
    QListWidget* m_outside_safe;
    std::vector<std::pair<int64_t, int64_t>> m_outside_keys;  // what the list shows
    bool m_refreshing = false;
};

// The Preview command of the main window: the opening checks, a new build inside the progress
// dialog when one is needed, then the window.
void open_preview(QWidget* parent, document::Document& document, base::Messages& messages,
                  base::Preferences& preferences);

}  // namespace tessara::gui
