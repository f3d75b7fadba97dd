#include "CommandLine.h"
#include "FileSystem.h"
#include "NativePath.h"
#include "VolumeLabels.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

void printTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

/// Prints `text` as the program's answer: 0 when it reached standard output, else 1 with the reason.
int answer(const QString& text) {
    printTo(stdout, text);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        printTo(stderr, QStringLiteral("kartoma: cannot write to standard output: %1\n")
                            .arg(QString::fromLocal8Bit(std::strerror(error))));
        return 1;
    }
    return 0;
}

/// The file `name` in the folder of the running program.
std::string besideProgram(const char* name) {
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    self.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return self.substr(0, self.rfind('/') + 1) + name;
}

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
    // The window's part of the program is loaded only now: the command line starts without the
    // graphical libraries.
    const std::string module = besideProgram("kartoma-window.so");
    void* window = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto run = window ? reinterpret_cast<int (*)(int, char**)>(::dlsym(window, "kartomaRunWindow")) : nullptr;
    if (run == nullptr) {
        printTo(stderr, QStringLiteral("kartoma: the window cannot be opened: %1\n")
                            .arg(QString::fromLocal8Bit(::dlerror())));
        return 1;
    }
    return run(argc, argv);
}

/// Points the descriptor `fd` at /dev/null, opened with `flags`.
void pointAtNothing(int fd, int flags) {
    if (const int nothing = ::open("/dev/null", flags); nothing >= 0 && nothing != fd) {
        ::dup2(nothing, fd);
        ::close(nothing);
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // A standard stream the caller closed is held by /dev/null, opened for reading only: no file or
    // descriptor the program opens takes its number (what is written to the stream would go there),
    // and writing to it fails as to a closed stream.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            pointAtNothing(fd, O_RDONLY);
        }
    }
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
        return answer(kartoma::usageText());
    case kartoma::ParsedCommandLine::Action::Version:
        return answer(QStringLiteral("kartoma %1\n").arg(QStringLiteral(KARTOMA_VERSION)));
    case kartoma::ParsedCommandLine::Action::UsageError:
        // The error quotes what was typed, which may hold anything.
        kartoma::printMessage(stderr, QStringLiteral("kartoma: %1\n").arg(parsed.error));
        printTo(stderr, QLatin1Char('\n') + kartoma::usageText());
        return 2;
    case kartoma::ParsedCommandLine::Action::Search: {
        QCoreApplication app(argc, argv);
        // The reader of the hits sees their end as soon as they are written, not after the program has
        // closed the index and ended.
        return kartoma::runSearch(parsed, stdout, stderr, kartoma::CatalogueIndex::defaultPath(),
                                  [] { pointAtNothing(STDOUT_FILENO, O_WRONLY | O_CLOEXEC); });
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
