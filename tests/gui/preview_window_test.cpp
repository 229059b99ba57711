#include "gui/preview_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include "base/messages.h"
#include "base/preferences.h"
#include "document/document.h"
#include "document/preview.h"
#include "gui_support.h"

namespace tessara::gui {
namespace {

std::string demo() {
    return std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa";
}

class Preview : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(doc.open(demo(), nullptr, messages));
        ASSERT_TRUE(document::build_for_preview(doc, nullptr, messages));
        window = std::make_unique<PreviewWindow>(nullptr, doc, messages, preferences);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    QPoint widget_point(int32_t x, int32_t y) const {
        const int zoom = window->canvas().zoom();
        return {x * zoom, y * zoom};
    }

    base::RecordingMessages messages;
    base::MemoryPreferences preferences;
    document::Document doc;
    std::unique_ptr<PreviewWindow> window;
};

// Dragging with the mouse moves the subtitle on the frame and into the script; with Ctrl held
// only the larger movement counts, and with the left edge sunk it snaps to a guide.
TEST_F(Preview, DraggingMovesTheSubtitleWithCtrlAndSnapping) {
    auto& session = window->session();
    const document::Box before = session.boxes().at(0);
    const QPoint grip = widget_point(before.x + 5, before.y + 5);
    QTest::mousePress(&window->canvas(), Qt::LeftButton, {}, grip);
    EXPECT_EQ(session.selected(), 0);
    QTest::mouseMove(&window->canvas(), grip + QPoint(30, 10));
    QTest::mouseRelease(&window->canvas(), Qt::LeftButton, Qt::ControlModifier,
                        grip + QPoint(30, 10));
    EXPECT_EQ(session.boxes().at(0),
              (document::Box{before.x + 30, before.y, before.width, before.height}));
    EXPECT_TRUE(doc.modified());
    EXPECT_TRUE(qobject_cast<QPushButton*>(window->control("restore"))->isEnabled());

    // Pressing inside the moved, selected subtitle picks its anchors by thirds instead.
    const document::Box moved = session.boxes().at(0);
    const QPoint corner = widget_point(moved.x + moved.width - 2, moved.y + moved.height - 2);
    QTest::mousePress(&window->canvas(), Qt::LeftButton, {}, corner);
    QTest::mouseRelease(&window->canvas(), Qt::LeftButton, {}, corner);
    EXPECT_EQ(doc.script().events()[0]->user_override->snap_x, 2);
    EXPECT_EQ(doc.script().events()[0]->user_override->snap_y, 2);
    EXPECT_EQ(session.boxes().at(0), moved);

    // A click on empty frame clears the selection; a new drag snaps to the guide.
    QTest::mouseClick(&window->canvas(), Qt::LeftButton, {}, widget_point(2, 2));
    EXPECT_EQ(session.selected(), -1);
    window->display().guides.vertical = {before.x + 100};
    const QPoint grip2 = widget_point(moved.x + 5, moved.y + 5);
    QTest::mousePress(&window->canvas(), Qt::LeftButton, {}, grip2);
    QTest::mouseRelease(&window->canvas(), Qt::LeftButton, {}, grip2 + QPoint(67, 0));
    EXPECT_EQ(session.boxes().at(0).x, before.x + 100);  // 97 snaps to the guide 3 away

    qobject_cast<QPushButton*>(window->control("restore"))->click();
    EXPECT_EQ(session.boxes().at(0), before);
    EXPECT_TRUE(messages.texts().empty());
}

// Stepping, the position slider and the jog slider move through the timeline; closing writes
// the display settings back into the document.
TEST_F(Preview, SteppingTheSlidersAndClosingWriteBack) {
    auto& session = window->session();
    const int64_t first = session.start().frame;
    qobject_cast<QPushButton*>(window->control("next"))->click();
    EXPECT_GT(session.start().frame, first);
    auto* position = qobject_cast<QSlider*>(window->control("position"));
    EXPECT_EQ(position->value(), session.frame());
    position->setValue(static_cast<int>(first));
    EXPECT_EQ(session.start().frame, first);
    EXPECT_EQ(qobject_cast<QSlider*>(window->control("jog"))->value(), document::kJogRest);
    EXPECT_EQ(window->control("next")->toolTip(), "Click to move to the next subpicture.");

    qobject_cast<QCheckBox*>(window->control("stop_is_next"))->setChecked(true);
    window->display().guides.horizontal = {400};
    qobject_cast<QPushButton*>(window->control("close"))->click();
    EXPECT_TRUE(doc.script().settings.stop_is_next);
    EXPECT_EQ(doc.script().settings.guides, std::vector<int32_t>{400});
    EXPECT_TRUE(doc.modified());
}

}  // namespace
}  // namespace tessara::gui
