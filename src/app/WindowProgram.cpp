#include "MainWindow.h"
#include "QtDialogs.h"
#include "SettingsStore.h"
#include "SplashWindow.h"
#include "Startup.h"
#include "VolumeLabels.h"
#include "FileSystem.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <memory>

#include <unistd.h>

// The window's part of the program, loaded by main when it opens the window, so that the command line
// starts without the graphical libraries.

namespace {

/// What the window needs of the system, alive as long as the program runs.
struct Desktop {
    kartoma::QtDialogs dialogs;
    kartoma::DesktopLauncher launcher;
    kartoma::SystemVolumeLabels labels;
    kartoma::PosixFileSystem fileSystem;
    kartoma::QSettingsStore store;
    kartoma::Settings settings;
    std::unique_ptr<kartoma::MainWindow> window;
};

/// Start-up's two ways in: the splash, which hands over to the main window, or the main window.
class WindowStartup final : public kartoma::StartupWindows {
public:
    explicit WindowStartup(Desktop& desktop) : desktop_(desktop) {}

    void showSplash(const kartoma::Settings& settings) override {
        desktop_.settings = settings;
        auto* splash = new kartoma::SplashWindow([this] { showMain(); });
        splash->show();
    }
    void showMainWindow(const kartoma::Settings& settings) override {
        desktop_.settings = settings;
        showMain();
    }

private:
    void showMain() {
        // Workbooks go to the library folder stored with the options.
        kartoma::MainWindowServices services{desktop_.dialogs, desktop_.launcher,
                                             desktop_.labels,  desktop_.fileSystem,
                                             desktop_.store,   QCoreApplication::applicationDirPath(),
                                             QString()};
        desktop_.window = std::make_unique<kartoma::MainWindow>(desktop_.settings, std::move(services));
        desktop_.dialogs.setParent(desktop_.window.get());
        desktop_.window->show();
    }
    Desktop& desktop_;
};

QtMessageHandler toolkitHandler = nullptr;

/// While the toolkit connects to the display: a display it cannot reach (a wrong DISPLAY, a server
/// gone, an unknown platform) is a fatal message, after which the toolkit would abort and dump core.
/// The program ends as any command that cannot do its work ends instead: the reason, and the way
/// that needs no display.
void connectingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        toolkitHandler(type, context, message);
        return;
    }
    const QByteArray text = message.toLocal8Bit();
    std::fprintf(stderr,
                 "kartoma: the window cannot be opened: %s\n"
                 "kartoma: the command line works without a display (kartoma --help)\n",
                 text.constData());
    std::fflush(stderr);
    ::_exit(1);
}

} // namespace

/// Opens the window and runs it until it closes; the program's exit status.
extern "C" __attribute__((visibility("default"))) int kartomaRunWindow(int argc, char* argv[]) {
    toolkitHandler = qInstallMessageHandler(connectingHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(toolkitHandler);
    QApplication::setApplicationName(QStringLiteral("Kartoma"));
    QApplication::setApplicationVersion(QStringLiteral(KARTOMA_VERSION));
    // The standard dialogs (file dialogs, message-box buttons) speak the user's language.
    const std::unique_ptr<QTranslator> qtTexts = kartoma::qtTranslatorFor(QLocale());
    if (qtTexts) {
        QCoreApplication::installTranslator(qtTexts.get());
    }
    Desktop desktop;
    WindowStartup startup(desktop);
    kartoma::startUp(desktop.store, startup);
    const int status = QApplication::exec();
    desktop.window.reset();
    return status;
}
