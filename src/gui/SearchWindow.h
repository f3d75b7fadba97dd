#pragma once

#include "CatalogueSearch.h"
#include "SearchRunner.h"

#include <QWidget>

#include <deque>
#include <optional>
#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace kartoma {

class Dialogs;
class Launcher;
class SettingsStore;

/// What the search window works with; tests give fakes.
struct SearchWindowServices {
    Dialogs& dialogs;
    Launcher& launcher;
    SettingsStore& store;
    int yieldIntervalMs = 15; ///< the least time between two hand-overs of hits and progress to the window
    QString indexPath = {};   ///< the catalogue index; empty: the index's default path
};

/// カタログ検索: looks through the catalogue library (libraryFolder), a folder of catalogues, or
/// catalogues and folders dropped on it, for entries matching a pattern, as the user types: a short
/// pause after each change of the pattern starts a new search on a worker (SearchRunner) and stops
/// the one that ran; the window shows the hits as they come, with how many media hold each and the
/// catalogue each came from. It can instead list the entries held by one medium only. It shows the
/// index's progress while catalogues are new or changed, offers the stop (Esc stops a running
/// search, else closes the window), opens the catalogue a hit came from on a double click, and
/// offers a context menu on a hit. Catalogues it cannot read are listed in the window itself. The
/// folder is kept in the settings store (section "search", key "folder").
class SearchWindow final : public QWidget {
public:
    explicit SearchWindow(SearchWindowServices services, QWidget* parent = nullptr);
    ~SearchWindow() override;

    /// Starts a search of what the window searches (the library, the folder in the folder box, or
    /// what was dropped) for the pattern in the pattern box, stopping the one that runs.
    void startSearch();
    /// Asks a running search to stop.
    void stopSearch();
    /// Starts a search of the catalogues and folders `paths` name (see findCatalogueFiles) alone,
    /// as a drop on the window does.
    void searchPaths(const QStringList& paths);
    /// Opens the catalogue of the hit in `row` of the table.
    void openCatalogueOf(int row);
    /// The context menu of the hit in `row`: copy its full path or its folder, open its catalogue,
    /// open its folder (enabled when the folder exists on this machine). The caller owns the menu.
    QMenu* contextMenuFor(int row);
    /// A search is due (the pattern changed a moment ago), runs, or its hits are still being shown.
    bool searching() const;
    /// At most this many hits are shown; the status line says when more were found.
    static constexpr int kMaxShown = 100000;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildQueryRows(QGridLayout* grid);
    void buildHitTable();
    void connectQueryRows();
    void startRunner();
    void browse();
    void patternChanged();
    void sourcesChanged();
    void start(const QStringList& paths);
    QStringList searchedPaths(QString* problem) const;
    void showSources();
    void setSearching(bool on);
    /// Stops and forgets the search that runs or is due, and says `reason` in the status line.
    void abandon(const QString& reason);
    void clearHits();
    void tableEmptied();
    void dropQueuedHits();
    void addHits(const QList<SearchHit>& hits);
    void showQueuedHits();
    void unreadable(const Failure& failure);
    void finished(const SearchOutcome& outcome);
    void showOutcome();
    void open(const QString& path);

    SearchWindowServices services_;
    QLineEdit* pattern_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QCheckBox* matchPath_ = nullptr;
    QCheckBox* library_ = nullptr;
    QCheckBox* singleCopies_ = nullptr;
    QLabel* sources_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTableWidget* table_ = nullptr;
    QListWidget* failures_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* debounce_ = nullptr;
    QTimer* showMore_ = nullptr;
    SearchRunner* runner_ = nullptr;
    QStringList dropped_;   ///< what a drop named, searched instead of the library and folder
    QString savedFolder_;   ///< the folder the settings store holds
    std::deque<QList<SearchHit>> queue_; ///< hits handed over and not yet in the table
    qsizetype queueHead_ = 0;               ///< how many of the first batch are in the table
    std::vector<QList<SearchHit>> discarded_; ///< hits of searches gone, still to be freed
    int staleRows_ = 0; ///< rows of the last search still to be taken out of the table
    std::optional<SearchOutcome> outcome_; ///< the end of the search, shown after its last hits
    SearchRequest::Kind kind_ = SearchRequest::Kind::Search;
    bool searching_ = false;
    bool shownOnce_ = false;
};

} // namespace kartoma
