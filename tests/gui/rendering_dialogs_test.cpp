#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <deque>
#include <memory>

#include "base/messages.h"
#include "base/preferences.h"
#include "document/summary.h"
#include "gui/main_window.h"
#include "gui_support.h"

// The rendering options, colour keys, style precedence and style editor driven through the main
// window: their checks keep them open with the message shown, their rules follow the fields.
namespace tessara::gui {
namespace {

class RenderingDialogs : public ::testing::Test {
  protected:
    RenderingDialogs() : window(messages, preferences) {
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        EXPECT_TRUE(window.open_path(QString(TESSARA_SOURCE_DIR) + "/samples/demo.ssa"));
    }

    // Runs `use` on the dialogs that open, one after the other, while `open` runs.
    using Use = std::function<void(QDialog&)>;
    static void arm(const std::shared_ptr<std::deque<Use>>& pending) {
        if (pending->empty()) {
            return;
        }
        Use use = pending->front();
        pending->pop_front();
        gui_test::with_next_dialog([pending, use](QWidget& w) {
            arm(pending);  // the next dialog may open from inside this one
            use(dynamic_cast<QDialog&>(w));
        });
    }
    void with_dialogs(const std::function<void()>& open, std::vector<Use> uses) {
        arm(std::make_shared<std::deque<Use>>(uses.begin(), uses.end()));
        open();
    }

    base::RecordingMessages messages;
    base::MemoryPreferences preferences;
    MainWindow window;
};

TEST_F(RenderingDialogs, ChecksInOrderAndFollowsTheInterdependencies) {
    with_dialogs([&] { QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier); },
                 {[&](QDialog& d) {
                     auto* type = d.findChild<QComboBox*>("script_type");
                     auto* dont_clip = d.findChild<QCheckBox*>("dont_clip");
                     auto* keys = d.findChild<QPushButton*>("colour_keys");
                     auto* swatch = d.findChild<QLabel*>("background_swatch");
                     // Scenarist: unclipped bitmaps forced, colour keys instead of a background.
                     type->setCurrentIndex(type->findText(".sst (Scenarist)"));
                     EXPECT_TRUE(dont_clip->isChecked());
                     EXPECT_FALSE(dont_clip->isEnabled());
                     EXPECT_TRUE(keys->isEnabled());
                     EXPECT_FALSE(swatch->isVisible());
                     type->setCurrentIndex(type->findText(".usf (Ultech)"));
                     EXPECT_TRUE(dont_clip->isEnabled());
                     EXPECT_FALSE(keys->isEnabled());
                     EXPECT_TRUE(swatch->isVisible());
                     // Intelligent collisions take horizontal collisions over, and give back.
                     auto* intelligent = d.findChild<QCheckBox*>("intelligent_collisions");
                     auto* no_hrz = d.findChild<QCheckBox*>("no_horizontal_collisions");
                     intelligent->setChecked(false);
                     EXPECT_TRUE(no_hrz->isEnabled());
                     no_hrz->setChecked(true);
                     intelligent->setChecked(true);
                     EXPECT_FALSE(no_hrz->isEnabled());
                     EXPECT_FALSE(no_hrz->isChecked());
                     // The checks, first failure first.
                     d.findChild<QLineEdit*>("vertical")->setText("59");
                     d.findChild<QLineEdit*>("horizontal")->setText("x");
                     d.accept();
                     EXPECT_TRUE(d.isVisible());
                     d.findChild<QLineEdit*>("vertical")->setText("4800");
                     d.accept();
                     EXPECT_TRUE(d.isVisible());
                     d.findChild<QLineEdit*>("horizontal")->setText("720");
                     d.findChild<QLineEdit*>("fixed_width")->setText("721");
                     d.accept();
                     EXPECT_TRUE(d.isVisible());
                     d.findChild<QLineEdit*>("fixed_width")->setText("");
                     d.findChild<QLineEdit*>("line_spacing")->setText("100");
                     d.accept();
                     EXPECT_FALSE(d.isVisible());
                 }});
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{
                  "Vertical Resolution: invalid value", "Horizontal Resolution: invalid number",
                  "Fixed width: cannot be greater than horizontal resolution"}));
    EXPECT_EQ(window.document().script().settings.res_y, 4800);
    EXPECT_EQ(window.document().script().settings.line_spacing, 0);
    EXPECT_TRUE(window.document().modified());
}

TEST_F(RenderingDialogs, ColourKeysNeedAKeyForEveryConcept) {
    const auto keys_before = window.document().script().settings.fixed_colors;
    with_dialogs([&] { window.command("rendering")->trigger(); },
                 {[&](QDialog& d) { d.findChild<QPushButton*>("colour_keys")->click(); },
                  [&](QDialog& keys) {
                      // Row 1 takes row 0's key: row 0 is left without one.
                      QRadioButton* taken = nullptr;
                      for (auto* r : keys.findChildren<QRadioButton*>()) {
                          if (r->objectName().startsWith("key_0_") && r->isChecked()) {
                              taken = r;
                          }
                      }
                      ASSERT_NE(taken, nullptr);
                      const QString column = taken->objectName().mid(6);
                      keys.findChild<QRadioButton*>("key_1_" + column)->click();
                      EXPECT_FALSE(taken->isChecked());
                      keys.accept();
                      EXPECT_TRUE(keys.isVisible());
                      keys.findChild<QPushButton*>("default")->click();
                      keys.accept();
                      EXPECT_FALSE(keys.isVisible());
                  }});
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"You must pick colors for every concept."}));
    // The rendering dialog was cancelled: its copy of the keys went with it.
    EXPECT_EQ(window.document().script().settings.fixed_colors, keys_before);
}

TEST_F(RenderingDialogs, PrecedenceAndTheStyleEditorWriteTheScript) {
    const auto first = document::style_precedence(window.document()).front();
    with_dialogs(
        [&] { QTest::keyClick(&window, Qt::Key_Y, Qt::ControlModifier); },
        {[&](QDialog& d) {
             auto* list = d.findChild<QListWidget*>("styles");
             list->setCurrentRow(0);
             d.findChild<QPushButton*>("lower")->click();
             EXPECT_EQ(list->currentRow(), 1);
             EXPECT_FALSE(d.findChild<QPlainTextEdit*>("description")->toPlainText().isEmpty());
             d.findChild<QPushButton*>("edit")->click();
             d.accept();
         },
         [&](QDialog& editor) {
             auto* label = editor.findChild<QLabel*>("vertical_margin_label");
             editor.findChild<QRadioButton*>("valign_top")->click();
             EXPECT_EQ(label->text(), "Top margi&n");
             const QImage before = editor.findChild<QLabel*>("sample")->pixmap().toImage();
             EXPECT_FALSE(before.isNull());
             editor.findChild<QSpinBox*>("outline_size")->setValue(5);
             editor.accept();
             EXPECT_TRUE(editor.isVisible());
             editor.findChild<QSpinBox*>("outline_size")->setValue(4);
             // The sample follows the fields.
             EXPECT_NE(editor.findChild<QLabel*>("sample")->pixmap().toImage(), before);
             editor.accept();
             EXPECT_FALSE(editor.isVisible());
         }});
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"The outline size must be between 0 and 4"}));
    EXPECT_EQ(document::style_precedence(window.document())[1], first);
    EXPECT_TRUE(window.document().modified());
}

}  // namespace
}  // namespace tessara::gui
