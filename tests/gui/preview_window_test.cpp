#include "gui/preview_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <fstream>

#include "base/messages.h"
#include "base/preferences.h"
#include "base/text.h"
#include "document/document.h"
#include "document/preview.h"
#include "document/preview_dialogs.h"
#include "gui_support.h"
#include "test_support.h"

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

// Feed plug-in waits for the plug-in in its dialog; Cancel ends the wait without a message.
TEST_F(Preview, FeedingWaitsInItsDialogUntilCancelled) {
    QString status;
    gui_test::with_next_dialog([&](QWidget& dialog) {
        // The status line is set once the transfer waits for the plug-in.
        auto* line = dialog.findChild<QLabel*>("status");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !line->text().isEmpty(); }, 5000));
        status = line->text();
        dialog.findChild<QPushButton*>("cancel")->click();
    });
    qobject_cast<QPushButton*>(window->control("feed"))->click();
    EXPECT_EQ(status, "Waiting for the plugin to open the connection...");
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
    EXPECT_EQ(window->findChild<QDialog*>("feed"), nullptr);  // closed with the transfer
}

// A movie background shows the movie's frame N at output frame N (its first frame at
// 00:00:00:00): a clip of flat grey frames, each its own level, made by ffmpeg as MPEG-2 with
// B-frames, is read back frame-exactly behind the subtitles, forwards and backwards.
TEST(PreviewMovie, TheBackgroundIsTheMoviesFrameForTheShownFrame) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the ffmpeg command is not installed; this test makes its clip with it";
    }
    test::TempDir dir;
    const auto level = [](int n) { return (n * 37) % 200 + 30; };
    {
        std::ofstream raw(dir.file("frames.gray"), std::ios::binary);
        for (int n = 0; n < 100; ++n) {
            raw << std::string(64 * 48, static_cast<char>(level(n)));
        }
    }
    const std::string clip = dir.file("clip.mpg").string();
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f rawvideo -pix_fmt gray -s 64x48 -r 25 -i '" +
                           dir.file("frames.gray").string() +
                           "' -c:v mpeg2video -bf 2 -g 12 -q:v 2 '" + clip + "'")
                              .c_str()),
              0);
    base::RecordingMessages messages;
    base::MemoryPreferences preferences;
    document::Document doc;
    ASSERT_TRUE(doc.open(demo(), nullptr, messages));
    ASSERT_TRUE(document::build_for_preview(doc, nullptr, messages));
    doc.script().settings.back_movie = base::utf8_to_utf16(clip);
    PreviewWindow window(nullptr, doc, messages, preferences);
    // The clip is shorter than the subtitles: asked, and kept on No.
    EXPECT_EQ(messages.texts(), std::vector<std::string>{document::kMovieShorterText});
    window.show();
    for (int frame : {37, 99, 64, 38}) {
        window.session().show_frame(frame);
        window.refresh();
        const QImage shown = gui_test::grab(window.canvas());
        // ffmpeg keeps grey v as video-range luma 16 + v * 219 / 255.
        const int expected = 16 + level(frame) * 219 / 255;
        EXPECT_NEAR(qGreen(shown.pixel(4, 4)), expected, 3) << "frame " << frame;
    }
}

}  // namespace
}  // namespace tessara::gui
