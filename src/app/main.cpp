#include "CommandLine.h"
#include "FileSystem.h"
#include "MainWindow.h"
#include "NativePath.h"
#include "QtDialogs.h"
#include "SettingsStore.h"
#include "SplashWindow.h"
#include "Startup.h"
#include "VolumeLabels.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace {

void printTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

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
        QString temporary = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        kartoma::MainWindowServices services{desktop_.dialogs, desktop_.launcher,
                                             desktop_.labels,  desktop_.fileSystem,
                                             desktop_.store,   QCoreApplication::applicationDirPath(),
                                             temporary};
        desktop_.window = std::make_unique<kartoma::MainWindow>(desktop_.settings, std::move(services));
        desktop_.dialogs.setParent(desktop_.window.get());
        desktop_.window->show();
    }
    Desktop& desktop_;
};

int runWindow(int argc, char* argv[]) {
    // Without a display the window cannot open; say how to use the command line instead of letting
    // the toolkit abort.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        printTo(stderr,
                QStringLiteral("kartoma: no display to open the window on; the command line works without "
                               "one:\n\n"));
        printTo(stderr, kartoma::usageText());
        return 1;
    }
    QApplication app(argc, argv);
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

} // namespace

int main(int argc, char* argv[]) {
    // Paths among the arguments keep their bytes, whatever they are; the parser makes the other
    // values text.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(kartoma::fromNativePath(argv[i]));
    }
    const kartoma::ParsedCommandLine parsed = kartoma::parseCommandLine(arguments);
    switch (parsed.action) {
    case kartoma::ParsedCommandLine::Action::Window:
        return runWindow(argc, argv);
    case kartoma::ParsedCommandLine::Action::Help:
        printTo(stdout, kartoma::usageText());
        return 0;
    case kartoma::ParsedCommandLine::Action::Version:
        printTo(stdout, QStringLiteral("kartoma %1\n").arg(QStringLiteral(KARTOMA_VERSION)));
        return 0;
    case kartoma::ParsedCommandLine::Action::UsageError:
        // The error quotes what was typed, which may hold anything.
        kartoma::printMessage(stderr, QStringLiteral("kartoma: %1\n").arg(parsed.error));
        printTo(stderr, QLatin1Char('\n') + kartoma::usageText());
        return 2;
    case kartoma::ParsedCommandLine::Action::Search: {
        QCoreApplication app(argc, argv);
        return kartoma::runSearch(parsed, stdout, stderr);
    }
    case kartoma::ParsedCommandLine::Action::Catalog: {
        // No window: the command line needs no GUI, nor a display.
        QCoreApplication app(argc, argv);
        kartoma::PosixFileSystem fileSystem;
        kartoma::SystemVolumeLabels labels;
        return kartoma::runCommandLine(parsed.request, parsed.quiet, fileSystem, labels, stderr);
    }
    }
    return 2;
}
