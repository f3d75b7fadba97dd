#include "CommandLine.h"
#include "FileSystem.h"
#include "SettingsStore.h"
#include "Startup.h"
#include "VolumeLabels.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void printTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

/// Until the window is built, start-up tells what it would show.
class ConsoleStartup final : public kartoma::StartupWindows {
public:
    void showSplash(const kartoma::Settings& settings) override { describe(QStringLiteral("splash screen, then the main window"), settings); }
    void showMainWindow(const kartoma::Settings& settings) override { describe(QStringLiteral("main window"), settings); }

private:
    static void describe(const QString& first, const kartoma::Settings& s) {
        printTo(stdout, QStringLiteral("Kartoma %1: the window (%2) is not part of this build yet.\n"
                                       "Stored options: %3 levels, %4 lines per page, %5 output, folders %6.\n\n")
                            .arg(QStringLiteral(KARTOMA_VERSION), first)
                            .arg(s.nest)
                            .arg(s.pageLN)
                            .arg(s.csv ? QStringLiteral("CSV") : QStringLiteral("workbook"),
                                 s.folder ? QStringLiteral("left out") : QStringLiteral("listed")));
        printTo(stdout, kartoma::usageText());
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kartoma"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KARTOMA_VERSION));

    const kartoma::ParsedCommandLine parsed = kartoma::parseCommandLine(QCoreApplication::arguments());
    switch (parsed.action) {
    case kartoma::ParsedCommandLine::Action::Window: {
        kartoma::QSettingsStore store;
        ConsoleStartup windows;
        kartoma::startUp(store, windows);
        return 0;
    }
    case kartoma::ParsedCommandLine::Action::Help:
        printTo(stdout, kartoma::usageText());
        return 0;
    case kartoma::ParsedCommandLine::Action::Version:
        printTo(stdout, QStringLiteral("kartoma %1\n").arg(QStringLiteral(KARTOMA_VERSION)));
        return 0;
    case kartoma::ParsedCommandLine::Action::UsageError:
        printTo(stderr, QStringLiteral("kartoma: %1\n\n").arg(parsed.error));
        printTo(stderr, kartoma::usageText());
        return 2;
    case kartoma::ParsedCommandLine::Action::Catalog: {
        kartoma::PosixFileSystem fileSystem;
        kartoma::SystemVolumeLabels labels;
        return kartoma::runCatalog(parsed.request, fileSystem, labels, stderr);
    }
    }
    return 2;
}
