#include "gui/subtitle_editor.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <string>

#include "base/messages.h"
#include "base/preferences.h"
#include "document/document.h"
#include "gui_support.h"
#include "script/script.h"

// The subtitle editor opened as the preview opens it, on a build of the demo script: typing,
// the override buttons, the checks of OK and the line it writes.
namespace tessara::gui {
namespace {

TEST(SubtitleEditorWindow, TypedTextAndABlockAfterTheCaretsBlockReachTheLine) {
    base::RecordingMessages messages;  // kept by the build, so declared before the document
    base::MemoryPreferences preferences;
    document::Document doc;
    ASSERT_TRUE(doc.open(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa", nullptr, messages));
    ASSERT_NE(doc.build_preview(nullptr, messages), nullptr);
    messages.clear();
    // "{\i1}Thirty years{\i0} of the same question."
    constexpr int32_t kIndex = 4;
    int32_t shown = 0;
    bool sample_drawn = false;
    gui_test::with_next_dialog([&](QWidget& w) {
        auto& dialog = dynamic_cast<SubtitleEditorWindow&>(w);
        auto* text = dialog.findChild<SubtitleTextEdit*>("text");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(dialog.findChild<QLineEdit*>("line_head")->text(),
                  "Dialogue: Marked=0,0:00:12.40,0:00:15.20,*Default,MARTHA,0000,0000,0000,,");
        sample_drawn = !dialog.sample().isNull();

        QTextCursor cursor = text->textCursor();
        cursor.movePosition(QTextCursor::End);
        text->setTextCursor(cursor);
        QTest::keyClicks(text, " Again");
        QTest::keyClick(text, Qt::Key_Return);
        QTest::keyClicks(text, "Yes");
        // The caret inside "{\i1}": the bold block goes after it.
        cursor.setPosition(2);
        text->setTextCursor(cursor);
        dialog.findChild<QPushButton*>("tag_b1")->click();
        dialog.findChild<QPushButton*>("insert_nbsp")->click();

        // The readability test hides the sample and holds the button until it is over.
        auto* readability = dialog.findChild<QPushButton*>("readability");
        readability->click();
        EXPECT_FALSE(readability->isEnabled());
        EXPECT_FALSE(dialog.findChild<QLabel*>("sample")->isVisible());

        // OK refuses a stop that is not a timecode and stays open.
        auto* stop = dialog.findChild<QLineEdit*>("stop");
        const QString held = stop->text();
        stop->setText("later");
        auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        ok->click();
        EXPECT_TRUE(dialog.isVisible());
        stop->setText(held);
        ok->click();
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_TRUE(edit_subtitle(nullptr, doc, kIndex, shown, messages, preferences));

    EXPECT_TRUE(sample_drawn);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Stop time is not valid"});
    const auto* ev = doc.last_build()->timeline.subtitles()[kIndex].event;
    EXPECT_EQ(ev->line->text,
              u"Dialogue: Marked=0,0:00:12.40,0:00:15.20,*Default,MARTHA,0000,0000,"
              u"0000,,{\\i1}{\\b1}\u00A0Thirty years{\\i0} of the same question. "
              u"Again\\NYes");
    EXPECT_TRUE(doc.modified());
    ASSERT_GE(shown, 0);
    bool holds = false;
    for (const auto& m :
         doc.last_build()->timeline.subpictures()[static_cast<size_t>(shown)]->members) {
        holds = holds || m.index == kIndex;
    }
    EXPECT_TRUE(holds);
}

}  // namespace
}  // namespace tessara::gui
