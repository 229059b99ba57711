#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include "base/messages.h"
#include "base/preferences.h"
#include "gui/file_dialog.h"
#include "gui/gui_messages.h"
#include "gui/progress_dialog.h"
#include "gui_support.h"
#include "test_support.h"

namespace tessara::gui {
namespace {

namespace fs = std::filesystem;

std::string demo() {
    return std::string(TESSARA_SOURCE_DIR) + "/samples/demo.ssa";
}

// A main window with recorded messages and preferences in memory, whose file dialogs answer
// from a list of paths (an empty path: the user cancels) and remember what they were asked.
class Window : public ::testing::Test {
  protected:
    Window() : window(messages, preferences) {
        FileDialog::set_chooser([this](QWidget*, const FileRequest& request) {
            requests.push_back(request);
            if (answers.empty() || answers.front().isEmpty()) {
                if (!answers.empty()) {
                    answers.erase(answers.begin());
                }
                return std::optional<FileChoice>();
            }
            FileChoice choice{answers.front(), request.filter};
            answers.erase(answers.begin());
            return std::optional<FileChoice>(choice);
        });
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    ~Window() override { FileDialog::set_chooser(nullptr); }

    // The summary value shown for a label.
    QString shown(const QString& label) {
        for (QLabel* l : window.findChildren<QLabel*>()) {
            if (l->text() == label + ':') {
                if (auto* value =
                        qobject_cast<QLabel*>(l->buddy() != nullptr ? l->buddy() : nullptr)) {
                    return value->text();
                }
            }
        }
        return "(no " + label + ")";
    }

    base::RecordingMessages messages;
    base::MemoryPreferences preferences;
    MainWindow window;
    std::vector<QString> answers;
    std::vector<FileRequest> requests;
};

TEST_F(Window, WithoutAFileEverythingButOpenIsOffAndTheSummaryIsNotAvailable) {
    EXPECT_EQ(window.windowTitle(), "Tessara - No file");
    for (const char* name : {"save", "generate", "files", "timing", "segments", "snap"}) {
        EXPECT_FALSE(window.command(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(window.command("open")->isEnabled());
    EXPECT_EQ(shown("Output script"), "N/A");
    EXPECT_EQ(shown("Frame type"), "N/A");
}

TEST_F(Window, OpenStartsInTheRememberedFolderAndShowsTheScript) {
    test::TempDir dir;
    fs::copy_file(demo(), dir.file("film.ssa"));
    preferences.set_string("Files", "LastSSAFolder", dir.path().string());
    answers = {QString::fromStdString(dir.file("film.ssa").string())};
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].folder, QString::fromStdString(dir.path().string()));
    EXPECT_EQ(requests[0].filters.size(), 4);
    EXPECT_EQ(window.windowTitle(), "Tessara - film");
    EXPECT_EQ(shown("Colours allowed"), "2 text, 1 outline");
    EXPECT_TRUE(window.command("generate")->isEnabled());

    // Without FPS out nothing can be generated.
    ASSERT_FALSE(window.document().apply_settings({{"FPSout", ""}}, messages));
    window.refresh();
    EXPECT_FALSE(window.command("generate")->isEnabled());
    EXPECT_EQ(window.windowTitle(), "Tessara - film *");
}

TEST_F(Window, TheFirstSaveAfterOpeningAsksForANewNameAndLaterOnesWriteInPlace) {
    test::TempDir dir;
    fs::copy_file(demo(), dir.file("film.ssa"));
    ASSERT_TRUE(window.open_path(QString::fromStdString(dir.file("film.ssa").string())));
    const std::string copy = dir.file("film-2.ssa").string();
    answers = {QString::fromStdString(copy)};
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].mode, FileRequest::Mode::Save);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0].rfind("As Tessara could have bugs", 0), 0u);
    EXPECT_TRUE(fs::exists(copy));
    EXPECT_EQ(window.windowTitle(), "Tessara - film-2");

    fs::remove(copy);
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(requests.size(), 1u);  // no dialog this time
    EXPECT_TRUE(fs::exists(copy));

    // Ctrl+A and Ctrl+Shift+S are both Save As.
    answers = {"", ""};
    QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(requests.size(), 3u);
}

TEST_F(Window, OpeningAnAssScriptOffersTheImportAndOpensTheNewScript) {
    test::TempDir dir;
    test::write_file(
        dir.file("ep.ass"),
        "[V4+ Styles]\nStyle: Default,Arial,30\n[Events]\nFormat: Layer, Start, End, "
        "Style, Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,{\\move(1,2,3,4)}Hi\n");
    const QString ass = QString::fromStdString(dir.file("ep.ass").string());
    EXPECT_FALSE(window.open_path(ass));  // declined: nothing asked further
    EXPECT_TRUE(requests.empty());

    messages.clear();
    messages.queue_answer(base::Answer::Yes);
    answers = {QString::fromStdString(dir.file("episode.ssa").string())};
    ASSERT_TRUE(window.open_path(ass));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].file, QString::fromStdString(dir.file("ep.ssa").string()));
    const auto texts = messages.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind(dir.file("ep.ass").string() + " is an ASS (V4+) script.", 0), 0u);
    EXPECT_NE(texts[1].find("\\move: 1 event (1)"), std::string::npos) << texts[1];
    EXPECT_EQ(window.windowTitle(), "Tessara - episode");
}

TEST_F(Window, AChangedFileIsOnlyLeftWhenTheUserSaysYes) {
    ASSERT_TRUE(window.open_path(QString::fromStdString(demo())));
    ASSERT_FALSE(window.document().apply_settings({{"ResX", "704"}}, messages));
    messages.clear();
    messages.queue_answer(base::Answer::No);
    window.close();
    EXPECT_TRUE(window.isVisible());
    window.command("close")->trigger();  // the queue is empty: No again
    EXPECT_TRUE(window.document().has_file());
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"File has changed. Are you sure?",
                                                          "File has changed. Are you sure?"}));
    messages.queue_answer(base::Answer::Yes);
    window.command("close")->trigger();
    EXPECT_FALSE(window.document().has_file());
}

TEST_F(Window, GenerateWritesTheFilesFromTheWindow) {
    test::TempDir dir;
    fs::copy_file(demo(), dir.file("film.ssa"));
    ASSERT_TRUE(window.open_path(QString::fromStdString(dir.file("film.ssa").string())));
    window.command("generate")->trigger();
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();
    EXPECT_TRUE(fs::exists(dir.file("film.son")));
    EXPECT_TRUE(fs::exists(dir.file("film_0001.bmp")));
}

// The work starts once the dialog is shown and stops at the first check after Cancel.
TEST(ProgressDialog, CancelStopsTheWorkAtItsNextCheck) {
    ProgressDialog dialog(nullptr, "Working");
    int steps = 0;
    gui_test::with_next_dialog([](QWidget& w) {
        QTimer::singleShot(50, &w, [&w] {
            for (QPushButton* b : w.findChildren<QPushButton*>()) {
                b->click();
            }
        });
    });
    const bool result = dialog.run([&](base::Progress& p) {
        p.set_range(0, 1000000);
        while (p.keep_going()) {
            p.step();
            ++steps;
            QThread::usleep(100);
        }
        return false;
    });
    EXPECT_FALSE(result);
    EXPECT_TRUE(dialog.cancelled());
    EXPECT_GT(steps, 0);
    EXPECT_LT(steps, 1000000);
}

// The program's own message boxes are real ones: a test reads and closes them.
TEST(GuiMessages, AQuestionIsAModalBoxAnsweredByItsButtons) {
    GuiMessages messages;
    QString seen;
    gui_test::with_next_dialog([&](QWidget& w) {
        auto& box = dynamic_cast<QMessageBox&>(w);
        seen = box.text();
        box.button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(messages.ask("File has changed. Are you sure?", base::AskKind::YesNo),
              base::Answer::Yes);
    EXPECT_EQ(seen, "File has changed. Are you sure?");
    gui_test::with_next_dialog([](QWidget&) {});  // closed with its escape button
    EXPECT_EQ(messages.ask("Go on?", base::AskKind::OkCancel), base::Answer::Cancel);

    // A long report shows its start; the whole text is under Show Details.
    std::string report;
    for (int i = 1; i <= 40; ++i) {
        report += "line " + std::to_string(i) + "\n";
    }
    QString shown, details;
    gui_test::with_next_dialog([&](QWidget& w) {
        auto& box = dynamic_cast<QMessageBox&>(w);
        shown = box.text();
        details = box.detailedText();
    });
    messages.inform(report);
    EXPECT_TRUE(shown.startsWith("line 1\n") && shown.endsWith("line 16\n..."))
        << shown.toStdString();
    EXPECT_EQ(details, QString::fromStdString(report));
}

}  // namespace
}  // namespace tessara::gui
