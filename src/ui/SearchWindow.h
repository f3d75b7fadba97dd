#pragma once

#include "CatalogueSearch.h"

#include <QElapsedTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
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

/// カタログ検索: looks through the saved catalogues in a folder (or catalogues and folders dropped on
/// it) for entries matching a pattern. The search runs in output's searchCatalogues; the window shows
/// its hits as they come with the catalogue each came from, offers the stop (Esc stops a running
/// search, else closes the window), opens the catalogue a hit came from on a double click, and
/// offers a context menu on a hit. Catalogues it cannot read are listed in the window itself. The
/// folder is kept in the settings store (section "search", key "folder").
class SearchWindow final : public QWidget, private SearchSink {
public:
    explicit SearchWindow(SearchWindowServices services, QWidget* parent = nullptr);

    /// Searches the folder in the folder box for the pattern in the pattern box; returns when the
    /// search ends or is stopped.
    void cmdSearch_Click();
    /// Asks a running search to stop.
    void cmdStop_Click() { stopRequested_ = true; }
    /// Searches the catalogues and folders `paths` name (see findCatalogueFiles) for the pattern in the
    /// pattern box, as a drop on the window does; returns when the search ends or is stopped.
    void searchPaths(const QStringList& paths);
    /// Opens the catalogue of the hit in `row` of the table.
    void openCatalogueOf(int row);
    /// The context menu of the hit in `row`: copy its full path or its folder, open its catalogue,
    /// open its folder (enabled when the folder exists on this machine). The caller owns the menu.
    QMenu* contextMenuFor(int row);
    bool searching() const { return searching_; }
    /// At most this many hits are shown; the status line says when more were found.
    static constexpr int kMaxShown = 100000;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void hit(const SearchHit& hit) override;
    void unreadable(const Failure& failure) override;
    bool keepGoing(const QString& catalogue, std::uint64_t rowsRead) override;
    void browse();
    void setSearching(bool on);
    void open(const QString& path);

    SearchWindowServices services_;
    QLineEdit* pattern_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QCheckBox* matchPath_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTableWidget* table_ = nullptr;
    QListWidget* failures_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QElapsedTimer sinceYield_;
    QStringList catalogues_;
    QString currentCatalogue_;
    int catalogueIndex_ = 0;
    std::uint64_t hitsFound_ = 0;
    bool searching_ = false;
    bool stopRequested_ = false;
    bool closeWhenDone_ = false;
};

} // namespace kartoma
