// Makes the workbook of a folder in the real window and records how late a repeating 5 ms timer
// fires while the command runs: the longest gap between two turns of the window's event loop.
//
//     window_latency FOLDER [SCREENSHOT.png]
//
// The same timer first runs for three seconds with the window idle: on a busy machine that gap is
// the scheduler's share, and the ratio of the two is what the command adds.
// The template is taken from the build folder, the workbook saved in bench/out and not opened.
// With a screenshot path the window is grabbed a second into the command (the stop offered).

#include "Dialogs.h"
#include "FileSystem.h"
#include "Launcher.h"
#include "MainWindow.h"
#include "SettingsStore.h"
#include "VolumeLabels.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

using namespace kartoma;

/// Answers nothing and shows nothing: the benchmark runs unattended.
class QuietDialogs final : public Dialogs {
public:
    std::optional<QString> askSaveFileName(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> askOpenFileName(const FileDialogRequest&) override { return std::nullopt; }
    bool confirm(const QString&) override { return true; }
    void inform(const QString& title, const QString& text, bool) override {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
    void editVolumeLabel(QString&, const QString&) override {}
    FileChoice offerSavedFile(const QString&, const QString&) override { return FileChoice::Dismiss; }
};

/// Records the workbook instead of opening it.
class NoLauncher final : public Launcher {
public:
    bool openFile(const QString& path, Failed) override {
        opened = path;
        return true;
    }
    QString opened;
};

class NoStore final : public SettingsStore {
public:
    QString getSetting(const QString&, const QString&, const QString&, const QString& value) override { return value; }
    void saveSetting(const QString&, const QString&, const QString&, const QString&) override {}
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_latency FOLDER [SCREENSHOT.png]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString shot = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString buildFolder = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    const QString out = QStringLiteral(KARTOMA_BENCH_OUT);
    QDir().mkpath(out);

    QuietDialogs dialogs;
    NoLauncher launcher;
    SystemVolumeLabels labels;
    PosixFileSystem fileSystem;
    NoStore store;
    Settings settings;
    settings.splash = false;
    settings.label = false; // no question: the folder's path stands for a missing label
    MainWindowServices services{dialogs, launcher, labels, fileSystem, store, buildFolder, out};
    MainWindow window(settings, std::move(services));
    window.setFilterPattern(QStringLiteral("*")); // every file: a million files fit one sheet
    window.setFolderPath(folder);
    window.show();

    QElapsedTimer clock;
    qint64 last = -1;
    qint64 worst = 0;
    qint64 turns = 0;
    qint64 worstAt = 0;
    QString worstStatus;
    qint64 idleWorst = -1; // the longest gap before the command started
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0 && now - last > worst) {
            worst = now - last;
            worstAt = now;
            worstStatus = window.statusText();
        }
        last = now;
        ++turns;
        if (idleWorst < 0 && now >= 3000) {
            // The idle baseline is taken; the command starts now.
            idleWorst = worst;
            worst = 0;
            turns = 0;
            clock.restart();
            last = 0;
            window.findChild<QAction*>(QStringLiteral("toExcel"))->trigger();
            return;
        }
        if (idleWorst >= 0 && turns > 2 && !window.busy()) {
            tick.stop();
            std::printf("%s: %.1f s, %lld timer turns, longest gap between two turns %lld ms (goal <= 50), "
                        "ending at %.2f s with the status \"%s\"\n",
                        qPrintable(window.statusText()), static_cast<double>(clock.elapsed()) / 1000.0,
                        static_cast<long long>(turns), static_cast<long long>(worst),
                        static_cast<double>(worstAt) / 1000.0, qPrintable(worstStatus));
            std::printf("idle window, same timer, 3 s before: longest gap %lld ms; ratio %.2f\n",
                        static_cast<long long>(idleWorst),
                        static_cast<double>(worst) / static_cast<double>(std::max<qint64>(idleWorst, 1)));
            if (!launcher.opened.isEmpty()) {
                QFile::remove(launcher.opened);
            }
            QCoreApplication::quit();
        }
    });
    if (!shot.isEmpty()) {
        QTimer::singleShot(4000, &window, [&] { window.grab().save(shot); });
    }
    QTimer::singleShot(200, &window, [&] {
        clock.start();
        tick.start();
    });
    return QApplication::exec();
}
