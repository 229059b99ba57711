#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "base/messages.h"
#include "base/preferences.h"
#include "document/summary.h"
#include "gui/file_dialog.h"
#include "gui/main_window.h"
#include "gui_support.h"
#include "test_support.h"

// The settings dialogs driven as a person would: opened by their keys or menu items, fields
// typed, OK pressed; refused values keep the dialog open with the message shown.
namespace tessara::gui {
namespace {

namespace fs = std::filesystem;

class Dialogs : public ::testing::Test {
  protected:
    Dialogs() : window(messages, preferences) {
        fs::copy_file(std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa", dir.file("film.ssa"));
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        EXPECT_TRUE(window.open_path(QString::fromStdString(dir.file("film.ssa").string())));
    }
    ~Dialogs() override { FileDialog::set_chooser(nullptr); }

    // Opens a dialog with `open` and hands it to `use` while it is shown.
    void with_dialog(const std::function<void()>& open, const std::function<void(QDialog&)>& use) {
        bool seen = false;
        gui_test::with_next_dialog([&](QWidget& w) {
            seen = true;
            use(dynamic_cast<QDialog&>(w));
        });
        open();
        EXPECT_TRUE(seen);
        // The main window takes the keyboard back once the dialog has gone.
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    std::string summary(const std::string& label) {
        for (const auto& row : document::summary_rows(window.document())) {
            if (row.label == label) {
                return row.value;
            }
        }
        return "(none)";
    }

    test::TempDir dir;
    base::RecordingMessages messages;
    base::MemoryPreferences preferences;
    MainWindow window;
};

TEST_F(Dialogs, TimingRefusesBadRatesInOrderAndWritesBackOnOk) {
    with_dialog([&] { QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier); },
                [&](QDialog& d) {
                    auto* in = d.findChild<QComboBox*>("fps_in");
                    auto* out = d.findChild<QComboBox*>("fps_out");
                    in->setEditText("abc");
                    out->setEditText("");
                    d.accept();
                    EXPECT_TRUE(d.isVisible());
                    ASSERT_EQ(messages.texts().size(), 1u);  // the first problem only
                    messages.clear();
                    in->setEditText("29.97");
                    out->setEditText("29.97");
                    d.findChild<QCheckBox*>("drop_frame")->setChecked(true);
                    d.accept();
                    EXPECT_FALSE(d.isVisible());
                });
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(summary("FPS out"), "29.97");
    EXPECT_EQ(summary("Frame type"), "drop");
    EXPECT_TRUE(window.windowTitle().endsWith(" *"));

    // Cancel leaves everything as it was.
    with_dialog([&] { window.command("timing")->trigger(); },
                [&](QDialog& d) {
                    d.findChild<QComboBox*>("fps_in")->setEditText("50");
                    d.reject();
                });
    EXPECT_EQ(summary("FPS in"), "29.97");
}

// The end-to-end path of a user: open, choose another script type in the files dialog through
// the output file's filter, generate, and the files are on disk.
TEST_F(Dialogs, ChoosingScenaristInTheFilesDialogThenGeneratingWritesAnSstScript) {
    const std::string wanted = dir.file("out/film.son").string();
    fs::create_directories(dir.file("out"));
    FileDialog::set_chooser([&](QWidget*, const FileRequest& request) {
        // The second filter is Scenarist's.
        EXPECT_GE(request.filters.size(), 7);
        return std::optional<FileChoice>(FileChoice{QString::fromStdString(wanted), 1});
    });
    with_dialog([&] { QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier); },
                [&](QDialog& d) {
                    d.findChild<QPushButton*>("browse_output")->click();
                    EXPECT_EQ(d.findChild<QLineEdit*>("output_file")->text(),
                              QString::fromStdString(dir.file("out/film.sst").string()));
                    EXPECT_EQ(d.findChild<QLabel*>("palette_file")->text(), "N/A");
                    d.accept();
                    EXPECT_FALSE(d.isVisible());
                });
    EXPECT_EQ(summary("Script format"), "Scenarist (.sst)");
    EXPECT_EQ(preferences.get_string_or("Files", "LastOutputFolder", ""), dir.file("out").string());

    QTest::keyClick(&window, Qt::Key_G, Qt::ControlModifier);
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
    EXPECT_TRUE(fs::exists(dir.file("out/film.sst")));
    EXPECT_TRUE(fs::exists(dir.file("out/film_0001.bmp")));
}

TEST_F(Dialogs, AnHonouredScriptThatCannotBeReadKeepsTheFilesDialogOpen) {
    with_dialog([&] { window.command("files")->trigger(); },
                [&](QDialog& d) {
                    d.findChild<QLineEdit*>("honor_file")->setText("/no/such/old.son");
                    d.accept();
                    EXPECT_TRUE(d.isVisible());
                    d.reject();
                });
    EXPECT_EQ(
        messages.texts(),
        (std::vector<std::string>{"Bad file to honor:\nCould not open file /no/such/old.son"}));
    EXPECT_EQ(summary("Honour palette from"), "none");
}

TEST_F(Dialogs, SegmentsTypedAndParsedReachTheMainWindowsList) {
    with_dialog([&] { QTest::keyClick(&window, Qt::Key_M, Qt::ControlModifier); },
                [&](QDialog& d) {
                    d.findChild<QPlainTextEdit*>("segment_text")
                        ->setPlainText("00:00:01:00 00:00:09:00\n00:00:04:00\n");
                    d.findChild<QPushButton*>("parse")->click();
                    EXPECT_TRUE(d.findChild<QLabel*>("listing")->text().contains("Chapter point"));
                    d.accept();
                    EXPECT_FALSE(d.isVisible());
                });
    const auto lines = document::segment_lines(window.document());
    EXPECT_EQ(lines, (std::vector<std::string>{"Segment range from 00:00:01:00 to 00:00:09:00",
                                               "Chapter point at 00:00:04:00"}));
}

TEST_F(Dialogs, FilmOffsetAcceptsOnlyAnSmpteTime) {
    ASSERT_FALSE(window.document().apply_settings({{"FPSin", "24"}, {"FPSout", "24"}}, messages));
    window.refresh();
    ASSERT_TRUE(window.command("export_film")->isEnabled());
    with_dialog([&] { window.command("export_film")->trigger(); },
                [&](QDialog& d) {
                    auto* offset = d.findChild<QLineEdit*>("offset");
                    EXPECT_EQ(offset->text(), "01:00:00:00");
                    offset->setText("1 hour");
                    d.accept();
                    EXPECT_TRUE(d.isVisible());
                    d.reject();
                });
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Invalid SMPTE value"}));
}

TEST_F(Dialogs, CompatibilityStoresTheFlagsAndTellsWhenTheReaderPreferenceChanges) {
    const int32_t before = window.document().script().settings.compatible;
    with_dialog(
        [&] { QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier); },
        [&](QDialog& d) {
            auto* first = d.findChild<QCheckBox*>("flag_0");
            first->setChecked(!first->isChecked());
            d.findChild<QCheckBox*>("treat_n")->setChecked(true);
            d.accept();
        });
    EXPECT_NE(window.document().script().settings.compatible, before);
    EXPECT_TRUE(window.document().modified());
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0].rfind("You must close the current file", 0), 0u);
    EXPECT_EQ(preferences.get_int("Files", "Treat \\n as \\N", 0), 1);
}

TEST_F(Dialogs, AboutShowsTheProjectVersion) {
    with_dialog([&] { window.command("about")->trigger(); },
                [&](QDialog& d) {
                    EXPECT_EQ(d.findChild<QLabel*>("version")->text(),
                              QString("Tessara version ") + TESSARA_VERSION);
                });
}

}  // namespace
}  // namespace tessara::gui
