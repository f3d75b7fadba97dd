#include "CatalogueController.h"
#include "Failure.h"
#include "FakeFileSystem.h"
#include "GatedServices.h"
#include "NameText.h"
#include "NativePath.h"
#include "ScriptedDialogs.h"
#include "VolumeLabels.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kartoma {
namespace {

using testing::Gate;
using testing::GatedFileSystem;
using testing::GatedOpener;
using testing::Phase;
using testing::RecordingLauncher;
using testing::ScriptedDialogs;

class FixedLabels final : public VolumeLabels {
public:
    QString labelOf(const QString&) override { return label; }
    QString label;
};

/// The window as the controller sees it: records what it is told.
class FakeView final : public CatalogueView {
public:
    CatalogueRequest currentRequest() override { return request; }
    void setStatusText(const QString& text) override {
        status = text;
        statuses.append(text);
    }
    void setProgressRange(double, double) override {}
    void setProgressValue(double) override {}
    void setProgressVisible(bool visible) override { progress = visible; }
    void showBusyAnimation(bool on) override { busy = on; }
    void setToolbarMode(ToolbarMode m) override { mode = m; }
    void setListCommandsEnabled(bool enabled) override { commandsEnabled = enabled; }
    void setWaitPointer(bool on) override { wait = on; }
    void restoreIfMinimised() override {}
    void refresh() override {}
    void showFailure(const Failure& failure) override { failures.push_back(failure.code()); }
    void showOutcome(const CatalogueOutcome&) override { ++outcomes; }
    void showLibraryUnavailable(const QString& folder, const QString&) override {
        libraryUnavailable.append(folder);
    }
    void showOpenFailure(const Failure& failure) override { openFailures.push_back(failure.code()); }
    Dialogs::FileChoice offerSavedFile(const Failure& failure) override {
        offered.append(failure.subject());
        return choice;
    }
    void copyToClipboard(const QString& text) override { clipboard = text; }
    void showHelpNotOpened(const QString& path) override { helpNotOpened.append(path); }
    void closeWindow() override { closed = true; }

    CatalogueRequest request;
    QString status;
    QStringList statuses; ///< every status text, in order
    bool progress = false, busy = false, commandsEnabled = true, wait = false, closed = false;
    ToolbarMode mode = ToolbarMode::Idle;
    std::vector<FailureCode> failures, openFailures;
    QStringList helpNotOpened, offered, libraryUnavailable;
    Dialogs::FileChoice choice = Dialogs::FileChoice::Dismiss;
    QString clipboard;
    int outcomes = 0;
};

class CatalogueControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(QStringLiteral(KARTOMA_TEST_TEMPLATE), templatePath()));
        makeFiles(50);
        view_.request.folder = tree_.path();
        view_.request.labelPolicy = LabelPolicy::FolderWhenMissing;
        view_.request.output = WorkbookTarget{templatePath(), true, false, 60, {}};
    }

    QString templatePath() const { return program_.path() + QStringLiteral("/Kartoma.xl_"); }

    void makeFiles(int count) {
        for (int i = 0; i < count; ++i) {
            QFile f(tree_.path() + QStringLiteral("/file%1.txt").arg(i, 5, 10, QLatin1Char('0')));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }

    /// The controller; the walk goes through `fileSystem` (the system's own by default), and the
    /// gate can hold the worker in any phase.
    CatalogueController& controller(FileSystem* fileSystem = nullptr) {
        controller_.reset();
        gatedFileSystem_ =
            std::make_unique<GatedFileSystem>(fileSystem != nullptr ? *fileSystem : fileSystem_, gate_);
        ControllerServices services{*gatedFileSystem_,
                                    labels_,
                                    dialogs_,
                                    launcher_,
                                    program_.path(),
                                    [this] { return library_; },
                                    [] { return QDate(2026, 12, 8); },
                                    GatedOpener::factory(gate_)};
        controller_ = std::make_unique<CatalogueController>(view_, std::move(services));
        return *controller_;
    }

    /// Runs the window's event loop until the command has ended.
    static void awaitEnd(const CatalogueController& c) {
        while (c.busy()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    static void run(CatalogueController& c) {
        c.createList();
        awaitEnd(c);
    }
    /// Starts a list, holds it in `phase`, does `act` there, then lets it go on to its end.
    void runActingIn(CatalogueController& c, Phase phase, const std::function<void()>& act) {
        gate_.arm(phase);
        c.createList();
        ASSERT_TRUE(gate_.awaitReached());
        act();
        gate_.release();
        awaitEnd(c);
    }
    QStringList outputFiles() const { return QDir(out_.path()).entryList(QDir::Files); }

    Gate gate_;
    std::unique_ptr<GatedFileSystem> gatedFileSystem_;
    QTemporaryDir tree_, out_, program_;
    QString library_ = out_.path() + QStringLiteral("/ライブラリ"); ///< made by the first use
    FakeView view_;
    ScriptedDialogs dialogs_;
    RecordingLauncher launcher_;
    FixedLabels labels_;
    PosixFileSystem fileSystem_;
    std::unique_ptr<CatalogueController> controller_; ///< after what it uses: it goes first
};

TEST_F(CatalogueControllerTest, ACsvListAsksItsNameFirstThenIsSavedAndOpened) {
    view_.request.output = CsvTarget{};
    const QString out = out_.path() + QStringLiteral("/list.csv");
    dialogs_.fileAnswers = {out, std::nullopt};
    CatalogueController& c = controller();
    run(c);
    // The proposed name: in the library, today in the Japanese calendar.
    ASSERT_EQ(dialogs_.requests.size(), 1u);
    EXPECT_EQ(dialogs_.requests[0].fileName, QStringLiteral("R081208.csv"));
    EXPECT_EQ(dialogs_.requests[0].initialFolder, library_ + QLatin1Char('/'));
    EXPECT_EQ(launcher_.opened, QStringList{out});
    EXPECT_EQ(c.entries().count(), 50u);
    EXPECT_TRUE(c.listFileName().isEmpty());
    EXPECT_EQ(view_.status, QStringLiteral("保存しました：") + out);
    EXPECT_EQ(view_.outcomes, 1);
    // Cancelling the dialog, or declining to replace the file, ends the command after the list was
    // emptied; the status line no longer names the file of before.
    for (const bool replace : {true, false}) {
        dialogs_.fileAnswers = {replace ? std::optional<QString>(out) : std::nullopt};
        dialogs_.confirmations = {false};
        view_.status = QStringLiteral("保存しました：") + out;
        run(c);
        EXPECT_EQ(launcher_.opened.size(), 1);
        EXPECT_EQ(c.entries().count(), 0u);
        EXPECT_TRUE(view_.commandsEnabled);
        EXPECT_TRUE(view_.status.isEmpty()) << view_.status.toStdString();
    }
    // The dialog starts again where the last CSV file went.
    EXPECT_EQ(dialogs_.requests.back().initialFolder, out_.path() + QLatin1Char('/'));
    // Without a program to show it, the file is saved all the same: the user is offered its place.
    launcher_.works = false;
    dialogs_.fileAnswers = {out};
    dialogs_.confirmations = {true}; // the list of before is replaced
    run(c);
    EXPECT_TRUE(view_.failures.empty());
    EXPECT_EQ(view_.offered, QStringList{out});
    EXPECT_EQ(view_.status, QStringLiteral("保存しました：") + out);
}

TEST_F(CatalogueControllerTest, TheLabelPolicyDecidesTheVolumeColumn) {
    struct Case {
        LabelPolicy policy;
        QString mediumLabel;
        std::optional<QString> answer; ///< what the label dialog is answered (nothing: Cancel)
        QString expected;              ///< "<folder>" for the folder's path
        bool asked;
    };
    const Case cases[] = {
        {LabelPolicy::AskWhenMissing, {}, std::nullopt, {}, true},
        {LabelPolicy::AskWhenMissing,
         {},
         QStringLiteral("写真ディスク"),
         QStringLiteral("写真ディスク"),
         true},
        {LabelPolicy::AskWhenMissing, QStringLiteral("MEDIA"), {}, QStringLiteral("MEDIA"), false},
        {LabelPolicy::FolderWhenMissing, {}, {}, QStringLiteral("<folder>"), false},
        {LabelPolicy::Given, QStringLiteral("MEDIA"), {}, QStringLiteral("GIVEN"), false},
    };
    for (const Case& k : cases) {
        view_.request.labelPolicy = k.policy;
        view_.request.scan.volumeLabel = QStringLiteral("GIVEN");
        labels_.label = k.mediumLabel;
        dialogs_.labelAnswers = {k.answer};
        dialogs_.labelFolders.clear();
        CatalogueController& c = controller();
        run(c);
        const QString expected = k.expected == u"<folder>" ? tree_.path() : k.expected;
        EXPECT_EQ(c.entries().volumeLabel(), expected) << k.expected.toStdString();
        EXPECT_EQ(dialogs_.labelFolders.size(), k.asked ? 1 : 0);
    }
}

TEST_F(CatalogueControllerTest, FoldersNamedWithBytesThatAreNotTextAreCatalogued) {
    // A root named in Latin-1 holding a folder named in CP932 ("日本"), as old media carry them.
    const std::string root = toNativePath(tree_.path()) + "/caf\xE9";
    ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/\x93\xFA\x96{").c_str(), 0700), 0);
    ::close(::creat((root + "/\x93\xFA\x96{/a.txt").c_str(), 0600));
    view_.request.folder = fromNativePath(root);
    labels_.label.clear();
    CatalogueController& c = controller();
    run(c);
    EXPECT_TRUE(view_.failures.empty());
    ASSERT_EQ(c.entries().count(), 1u);
    const QString shown = tree_.path() + QStringLiteral("/caf\uFFFD");
    EXPECT_EQ(c.entries().folderPath(c.entries().record(0).folder), shown + QStringLiteral("/日本"));
    // The label is the folder's path with its bytes; the writers show it as they show the folder.
    EXPECT_EQ(readablePath(c.entries().volumeLabel()), shown);
    EXPECT_EQ(c.entries().undecodableNames(), 1u);
}

TEST_F(CatalogueControllerTest, AWorkbookIsMadeInTheLibraryAndHandedOver) {
    labels_.label = QStringLiteral("DISC/../01");
    CatalogueController& c = controller();
    run(c);
    ASSERT_EQ(launcher_.opened.size(), 1);
    // Named after the label, made safe, and the moment.
    EXPECT_EQ(QFileInfo(launcher_.opened[0]).absolutePath(), library_);
    EXPECT_TRUE(QFileInfo(launcher_.opened[0]).fileName().startsWith(QStringLiteral("DISC_.._01_2")));
    EXPECT_EQ(view_.mode, CatalogueView::ToolbarMode::Idle);
    EXPECT_TRUE(view_.failures.empty());
    EXPECT_EQ(view_.status, QStringLiteral("保存しました：") + launcher_.opened[0]);
    EXPECT_FALSE(c.busy());
    // The opener gives up later: the user is offered the file's folder or its path, while the
    // window lives.
    launcher_.failLater();
    EXPECT_EQ(view_.offered, QStringList{launcher_.opened[0]});
    const struct {
        Dialogs::FileChoice choice;
        bool folderOpened;
        bool pathCopied;
    } choices[] = {{Dialogs::FileChoice::OpenFolder, true, false},
                   {Dialogs::FileChoice::CopyPath, false, true},
                   {Dialogs::FileChoice::Dismiss, false, false}};
    for (const auto& k : choices) {
        view_.choice = k.choice;
        view_.clipboard.clear();
        launcher_.opened.clear();
        run(c);
        const QString book = launcher_.opened.takeFirst();
        launcher_.failLater();
        EXPECT_EQ(view_.offered.last(), book);
        EXPECT_EQ(launcher_.opened, k.folderOpened ? QStringList{library_} : QStringList{});
        EXPECT_EQ(view_.clipboard, k.pathCopied ? book : QString());
    }
    EXPECT_TRUE(view_.failures.empty());
    EXPECT_EQ(view_.offered.size(), 4);
    run(c);
    controller_.reset();
    launcher_.failLater();
    EXPECT_EQ(view_.offered.size(), 4);
}

TEST_F(CatalogueControllerTest, HelpThatCannotBeOpenedIsToldWithItsPath) {
    CatalogueController& c = controller();
    const QString help = program_.path() + QStringLiteral("/Kartoma.html");
    c.openHelp();
    launcher_.failLater();
    launcher_.works = false;
    c.openHelp();
    EXPECT_EQ(launcher_.opened, (QStringList{help, help}));
    EXPECT_EQ(view_.helpNotOpened, (QStringList{help, help}));
}

TEST_F(CatalogueControllerTest, TheCommandsStagesReachTheStatusLineInTheirOrder) {
    const QString listing = QStringLiteral("ファイルリストを作成中です。");
    const QString walked = QStringLiteral("ディレクトリ検索が終了しました。");
    const QString saving = QStringLiteral("エクセルシートを作成中です。");
    const QString csv = out_.path() + QStringLiteral("/list.csv");
    const QString saved = QStringLiteral("保存しました：");
    struct Case {
        OutputTarget output;
        bool emptyFolder; ///< the folder's files are removed first
        /// The texts after the walk; "saved" stands for "保存しました：" and the files handed over.
        QStringList shown;
    } cases[] = {
        {WorkbookTarget{templatePath(), true, false, 60, {}}, false, {QString(), saving, QString(), QString(), saved}},
        {WorkbookTarget{templatePath(), true, true, 60, {}},
         false,
         {QString(), saving, QString(), QString(), saving, QString(), QString(), saved}},
        {CsvTarget{}, false, {QStringLiteral("CSV形式のファイルを保存中"), QString(), saved}},
        {WorkbookTarget{templatePath(), true, true, 60, {}},
         true,
         {QStringLiteral("ファイルはありません。"), QStringLiteral("ファイルはありません。")}},
    };
    for (const Case& k : cases) {
        if (k.emptyFolder) {
            for (const QString& name : QDir(tree_.path()).entryList(QDir::Files)) {
                QFile::remove(tree_.path() + QLatin1Char('/') + name);
            }
        }
        view_.request.output = k.output;
        view_.statuses.clear();
        launcher_.opened.clear();
        dialogs_.fileAnswers = {csv};
        dialogs_.confirmations = {true};
        CatalogueController& c = controller();
        run(c);
        QStringList shown;
        for (const QString& text : view_.statuses) {
            if (!text.endsWith(QStringLiteral("を検索中です。"))) {
                shown.append(text);
            }
        }
        QStringList expected{QString(), listing, walked};
        for (const QString& text : k.shown) {
            expected.append(text == saved ? saved + launcher_.opened.join(QStringLiteral("、")) : text);
        }
        // The line is blanked first: the file of an earlier list is no longer what it names.
        EXPECT_EQ(shown, expected);
        EXPECT_FALSE(view_.progress);
        EXPECT_FALSE(view_.busy);
    }
}

TEST_F(CatalogueControllerTest, AStopInAnyPhaseEndsTheCommandQuietlyAndLeavesNoFile) {
    for (const Phase phase : {Phase::Walk, Phase::Writing, Phase::Finish}) {
        launcher_.opened.clear();
        CatalogueController& c = controller();
        runActingIn(c, phase, [&] {
            EXPECT_EQ(view_.mode, CatalogueView::ToolbarMode::Running); // the stop is offered
            c.stop();
        });
        EXPECT_TRUE(launcher_.opened.isEmpty()) << static_cast<int>(phase);
        EXPECT_EQ(outputFiles(), QStringList()) << static_cast<int>(phase);
        EXPECT_TRUE(view_.failures.empty());
        EXPECT_EQ(view_.status, QStringLiteral("処理が中断されました。"));
        EXPECT_EQ(view_.mode, CatalogueView::ToolbarMode::Idle);
        EXPECT_FALSE(view_.progress);
        EXPECT_FALSE(view_.busy);
        EXPECT_FALSE(view_.wait);
        EXPECT_FALSE(view_.closed);
        // The program goes on: the next list is made as usual.
        run(c);
        EXPECT_EQ(launcher_.opened.size(), 1);
        QFile::remove(launcher_.opened.value(0));
    }
}

TEST_F(CatalogueControllerTest, AQuitRequestStopsTheCommandThenClosesTheWindow) {
    for (const Phase phase : {Phase::Walk, Phase::Writing, Phase::Finish}) {
        view_.closed = false;
        CatalogueController& c = controller();
        EXPECT_TRUE(c.requestQuit()); // nothing runs: the window may close at once
        bool refused = false;
        runActingIn(c, phase, [&] {
            refused = !c.requestQuit();
            EXPECT_FALSE(view_.closed); // not before the command has ended
        });
        EXPECT_TRUE(refused);
        EXPECT_TRUE(view_.closed) << static_cast<int>(phase);
        EXPECT_TRUE(view_.failures.empty());
        EXPECT_TRUE(launcher_.opened.isEmpty());
        EXPECT_EQ(outputFiles(), QStringList()) << static_cast<int>(phase);
    }
    // A controller that goes while its command runs stops it and waits for it.
    CatalogueController& c = controller();
    gate_.arm(Phase::Writing);
    c.createList();
    ASSERT_TRUE(gate_.awaitReached());
    gate_.release();
    controller_.reset();
    EXPECT_EQ(outputFiles(), QStringList());
}

TEST_F(CatalogueControllerTest, AFailureInAnyPhaseIsShownWithItsCode) {
    testing::FakeFileSystem locked;
    locked.folder(tree_.path().toStdString()).openError = 13;
    struct Case {
        Phase phase;
        std::optional<FailureCode> expected; ///< nothing: the saved file is offered, no failure shown
    };
    for (const Case& k :
         {Case{Phase::Walk, FailureCode::RootUnreadable}, Case{Phase::Writing, FailureCode::TemplateMissing},
          Case{Phase::Finish, std::nullopt}}) {
        view_.failures.clear();
        view_.offered.clear();
        QFile::copy(QStringLiteral(KARTOMA_TEST_TEMPLATE), templatePath());
        launcher_.works = k.phase != Phase::Finish;
        CatalogueController& c = controller(k.phase == Phase::Walk ? &locked : nullptr);
        if (k.phase == Phase::Writing) {
            // The template was checked before the walk; it goes while the walk runs.
            runActingIn(c, Phase::Walk, [this] { QFile::remove(templatePath()); });
        } else {
            run(c);
        }
        EXPECT_EQ(view_.failures, k.expected ? std::vector<FailureCode>{*k.expected} : std::vector<FailureCode>{});
        EXPECT_EQ(view_.offered.size(), k.expected ? 0 : 1);
        EXPECT_EQ(view_.mode, CatalogueView::ToolbarMode::Idle);
        EXPECT_FALSE(view_.progress);
        EXPECT_FALSE(view_.wait);
        EXPECT_FALSE(view_.closed);
        EXPECT_TRUE(view_.commandsEnabled);
    }
}

TEST_F(CatalogueControllerTest, OptionsChangedDuringTheWalkDecideTheOutput) {
    const QString csv = out_.path() + QStringLiteral("/late.csv");
    struct Case {
        bool toCsv;
        std::optional<QString> name; ///< the answer to the file dialog after the walk
        int opened;
        QString status;
    } cases[] = {
        {false, {}, 2, {}},
        {true, csv, 1, QStringLiteral("保存しました：") + csv},
        {true, std::nullopt, 0, QStringLiteral("ファイル名が指定されなかったため、リストは保存されませんでした。")},
    };
    for (const Case& k : cases) {
        view_.request.output = WorkbookTarget{templatePath(), true, false, 60, {}};
        launcher_.opened.clear();
        dialogs_.requests.clear();
        dialogs_.fileAnswers = {k.name};
        CatalogueController& c = controller();
        runActingIn(c, Phase::Walk, [this, &k, &c] {
            // One list at a time: a second one is refused while this one runs.
            EXPECT_FALSE(view_.commandsEnabled);
            c.createList();
            c.openSavedList();
            if (k.toCsv) {
                view_.request.output = CsvTarget{};
            } else {
                std::get<WorkbookTarget>(view_.request.output).titleOnEveryPage = true;
            }
        });
        EXPECT_EQ(launcher_.opened.size(), static_cast<std::size_t>(k.opened)) << k.toCsv;
        EXPECT_EQ(dialogs_.requests.size(), k.toCsv ? 1u : 0u);
        EXPECT_EQ(QFile::exists(csv), k.toCsv && k.name.has_value()) << k.toCsv;
        if (!k.status.isEmpty()) {
            EXPECT_EQ(view_.status, k.status);
        }
        EXPECT_TRUE(view_.failures.empty());
        EXPECT_TRUE(view_.commandsEnabled);
        QFile::remove(csv);
    }
}

TEST_F(CatalogueControllerTest, ALibraryFolderThatCannotBeMadeStopsTheListBeforeItsWalk) {
    QFile blocker(out_.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    library_ = blocker.fileName() + QStringLiteral("/library");
    CatalogueController& c = controller();
    run(c);
    EXPECT_EQ(view_.libraryUnavailable, QStringList{library_});
    EXPECT_EQ(c.entries().count(), 0u);
    EXPECT_TRUE(launcher_.opened.isEmpty());
    EXPECT_TRUE(view_.commandsEnabled);
    EXPECT_FALSE(c.busy());
}

TEST_F(CatalogueControllerTest, ASavedListIsOpenedInPlaceOrItsFailureEndsTheProgram) {
    CatalogueController& c = controller();
    run(c);
    ASSERT_EQ(launcher_.opened.size(), 1);
    const QString book = launcher_.opened[0];
    QFile saved(book);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    const QDateTime modified = QFileInfo(book).lastModified();
    dialogs_.requests.clear();
    dialogs_.fileAnswers = {book};
    c.openSavedList();
    // The dialog starts in the library with no name proposed; the file itself is opened, unwritten.
    ASSERT_EQ(dialogs_.requests.size(), 1u);
    EXPECT_EQ(dialogs_.requests[0].initialFolder, library_);
    EXPECT_TRUE(dialogs_.requests[0].fileName.isEmpty());
    EXPECT_EQ(launcher_.opened, (QStringList{book, book}));
    EXPECT_EQ(QDir(library_).entryList(QDir::Files).size(), 1);
    saved.seek(0);
    EXPECT_EQ(saved.readAll(), bytes);
    EXPECT_EQ(QFileInfo(book).lastModified(), modified);
    EXPECT_FALSE(view_.closed); // a successful open leaves the window open
    c.openSavedList(); // cancelled: the line names no file
    EXPECT_TRUE(view_.status.isEmpty());
    // No application opens it: the user is offered the file, and the window stays.
    launcher_.works = false;
    dialogs_.fileAnswers = {book};
    c.openSavedList();
    EXPECT_EQ(view_.offered, QStringList{book});
    EXPECT_FALSE(view_.closed);
    launcher_.works = true;

    const QString junk = out_.path() + QStringLiteral("/junk.xlsx");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a workbook");
    f.close();
    dialogs_.fileAnswers = {junk};
    c.openSavedList();
    EXPECT_EQ(view_.openFailures, std::vector<FailureCode>{FailureCode::TemplateInvalid});
    EXPECT_TRUE(view_.closed);
}

TEST_F(CatalogueControllerTest, TheBusyDisplayPlaysOnlyForMoreThan600Entries) {
    makeFiles(600);
    CatalogueController& c = controller();
    run(c);
    ASSERT_EQ(c.entries().count(), 600u);
    c.showBusy(true);
    EXPECT_FALSE(view_.busy);
    makeFiles(601);
    run(c);
    c.showBusy(true);
    EXPECT_TRUE(view_.busy);
    view_.status = QStringLiteral("x");
    c.showBusy(false);
    EXPECT_FALSE(view_.busy);
    EXPECT_TRUE(view_.status.isEmpty());
    // The toolbar's open empties the list, but its count still decides the display.
    c.emptyListAndOpen();
    EXPECT_EQ(c.entries().count(), 0u);
    c.showBusy(true);
    EXPECT_TRUE(view_.busy);
}

} // namespace
} // namespace kartoma
