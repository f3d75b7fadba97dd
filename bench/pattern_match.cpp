// The search's matcher against the filter's on one long name, side by side in one run: the time each
// takes for a 102-character pattern that nearly matches everywhere. Usage: pattern_match MEGABYTES
#include "LikePattern.h"
#include "SearchPattern.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 60;
    const std::string name(megabytes * 1000000, 'A');
    const QString pattern = QStringLiteral("*") + QString(99, QLatin1Char('a')) + QStringLiteral("b*");
    QElapsedTimer timer;

    timer.start();
    std::u32string folded;
    kartoma::appendSearchFold(name, folded);
    const bool found = kartoma::SearchPattern(pattern).matchesFolded(folded);
    const double search = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    timer.restart();
    const bool filtered = kartoma::LikePattern(pattern).matchesUpperUtf8(name);
    const double filter = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    std::printf("%zu MB name, 102-character pattern: search (fold and match) %.3f s, filter's matcher %.3f s, "
                "ratio %.4f (%d %d)\n",
                megabytes, search, filter, search / filter, found, filtered);
    return 0;
}
