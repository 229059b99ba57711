// The desktop program against the command line's way of working: opening a long script and
// showing its summary, and a generation run from the window (inside the progress dialog) next
// to the same run called directly. Offscreen; no display needed.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>
#include <fstream>

#include "base/messages.h"
#include "base/preferences.h"
#include "base/progress.h"
#include "bench_script.h"
#include "document/document.h"
#include "document/preview.h"
#include "gui/main_window.h"
#include "gui/preview_window.h"
#include "script/script.h"

namespace {

using namespace tessara;

std::string write_script(const QTemporaryDir& dir, int events) {
    const std::string path = dir.filePath("film.ssa").toStdString();
    std::ofstream(path, std::ios::binary) << bench::make_bench_script(events);
    return path;
}

// A shown main window and a generated script of `events` events beside it.
struct ShownWindow {
    explicit ShownWindow(int events)
        : path(QString::fromStdString(write_script(dir, events))), window(messages, preferences) {
        window.show();
    }
    QTemporaryDir dir;
    QString path;
    base::SilentMessages messages;
    base::MemoryPreferences preferences;
    gui::MainWindow window;
};

void BM_OpenAndShowSummary(benchmark::State& state) {
    ShownWindow shown(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        shown.window.open_path(shown.path);
        QCoreApplication::processEvents();
    }
    state.counters["events"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_OpenAndShowSummary)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_GenerateFromTheWindow(benchmark::State& state) {
    ShownWindow shown(static_cast<int>(state.range(0)));
    shown.window.open_path(shown.path);
    for (auto _ : state) {
        shown.window.command("generate")->trigger();
    }
}
BENCHMARK(BM_GenerateFromTheWindow)->Arg(1500)->Unit(benchmark::kMillisecond);

// What `tessara generate` does with the same script.
void BM_GenerateDirectly(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = write_script(dir, static_cast<int>(state.range(0)));
    base::SilentMessages messages;
    document::Document doc;
    doc.open(path, nullptr, messages);
    base::NullProgress progress;
    for (auto _ : state) {
        output::GenerationSummary summary;
        doc.generate(std::nullopt, &progress, messages, summary);
    }
}
BENCHMARK(BM_GenerateDirectly)->Arg(1500)->Unit(benchmark::kMillisecond);

// The style editor redraws its sample on every change of a field: two lines at 720x576.
void BM_StyleEditorSample(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = write_script(dir, 10);
    base::SilentMessages messages;
    document::Document doc;
    doc.open(path, nullptr, messages);
    doc.apply_settings({{"ResX", "720"}, {"ResY", "576"}}, messages);
    const script::Style& style = *doc.script().styles().front();
    const std::u16string text = u"Sample text.\\NSecond line of text. {\\i0}UU{\\i1}UU{\\i0}UU";
    for (auto _ : state) {
        benchmark::DoNotOptimize(doc.draw_sample(style, text, messages));
    }
}
BENCHMARK(BM_StyleEditorSample)->Unit(benchmark::kMillisecond);

// The preview on a 2,000-event script whose subpictures are built: opening the window over
// the build, one drag step (snap, compose, redraw), a move written back with its incremental
// rebuild, and stepping to the next subpicture.
struct ShownPreview {
    ShownPreview() {
        doc.open(write_script(dir, 2000), nullptr, messages);
        document::build_for_preview(doc, nullptr, messages);
    }
    QTemporaryDir dir;
    base::SilentMessages messages;
    base::MemoryPreferences preferences;
    document::Document doc;
};

void BM_PreviewOpenOverTheBuild(benchmark::State& state) {
    ShownPreview p;
    for (auto _ : state) {
        gui::PreviewWindow window(nullptr, p.doc, p.messages, p.preferences);
        window.show();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_PreviewOpenOverTheBuild)->Unit(benchmark::kMillisecond);

void BM_PreviewDragStep(benchmark::State& state) {
    ShownPreview p;
    gui::PreviewWindow window(nullptr, p.doc, p.messages, p.preferences);
    window.show();
    window.display().guides.vertical = {100, 360, 620};
    const document::Box box = window.session().boxes().at(0);
    window.press({box.x + 2, box.y + 2}, {});
    int step = 0;
    for (auto _ : state) {
        step = (step + 1) % 40;
        window.drag({box.x + 2 + step, box.y + 2 - step}, {});
        QCoreApplication::processEvents();
    }
    window.release({box.x + 2, box.y + 2}, {});
}
BENCHMARK(BM_PreviewDragStep)->Unit(benchmark::kMillisecond);

void BM_PreviewMoveAndRebuild(benchmark::State& state) {
    ShownPreview p;
    document::PreviewSession session(p.doc);
    session.select(0);
    document::Box box = session.boxes().at(0);
    int step = 0;
    for (auto _ : state) {
        box.y += (++step % 2 == 0) ? 5 : -5;
        session.move_selected(box, p.messages);
    }
}
BENCHMARK(BM_PreviewMoveAndRebuild)->Unit(benchmark::kMillisecond);

void BM_PreviewNextSubpicture(benchmark::State& state) {
    ShownPreview p;
    gui::PreviewWindow window(nullptr, p.doc, p.messages, p.preferences);
    window.show();
    for (auto _ : state) {
        if (!window.session().next()) {
            window.session().show_frame(window.session().first_frame());
        }
        window.refresh();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_PreviewNextSubpicture)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
