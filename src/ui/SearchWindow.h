#pragma once

#include "CatalogueSearch.h"

#include <QElapsedTimer>
#include <QWidget>

#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace kartoma {

class Dialogs;
class Launcher;
class SettingsStore;

/// What the search window works with; tests give fakes.
struct SearchWindowServices {
    Dialogs& dialogs;
    Launcher& launcher;
    SettingsStore& store;
    int yieldIntervalMs = 15; ///< how often the search lets the window repaint and see the stop
};

/// カタログ検索: looks through the saved catalogues in a folder for entries matching a pattern. The
/// search runs in output's searchCatalogues; the window shows its hits as they come, offers the stop,
/// and opens the catalogue a hit came from on a double click. The folder is kept in the settings
/// store (section "search", key "folder").
class SearchWindow final : public QWidget, private SearchSink {
public:
    explicit SearchWindow(SearchWindowServices services, QWidget* parent = nullptr);

    /// Searches the folder in the folder box for the pattern in the pattern box; returns when the
    /// search ends or is stopped.
    void cmdSearch_Click();
    /// Asks a running search to stop.
    void cmdStop_Click() { stopRequested_ = true; }
    /// Opens the catalogue of the hit in `row` of the table.
    void openCatalogueOf(int row);
    bool searching() const { return searching_; }
    /// At most this many hits are shown; the status line says when more were found.
    static constexpr int kMaxShown = 100000;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void hit(const SearchHit& hit) override;
    void unreadable(const Failure& failure) override;
    bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) override;
    void browse();
    void setSearching(bool on);

    SearchWindowServices services_;
    QLineEdit* pattern_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QCheckBox* matchPath_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTableWidget* table_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QElapsedTimer sinceYield_;
    QStringList catalogues_;
    QString currentCatalogue_;
    int catalogueIndex_ = 0;
    std::uint64_t hitsFound_ = 0;
    std::vector<QString> unreadable_;
    bool searching_ = false;
    bool stopRequested_ = false;
    bool closeWhenDone_ = false;
};

} // namespace kartoma
