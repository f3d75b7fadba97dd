#include "AboutBox.h"
#include "Fakes.h"
#include "OptionsDialog.h"
#include "Pointer.h"
#include "SplashWindow.h"
#include "VolumeLabelDialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QThread>

namespace kartoma {
namespace {

using testing::MemorySettingsStore;

// --- the volume label dialog ---

TEST(VolumeLabelDialog, OkCancelAndAnEmptyBox) {
    struct Case {
        std::function<void(VolumeLabelDialog&)> act;
        QString expected;
    };
    const QString folder = QStringLiteral("/media/usb/写真");
    const std::vector<Case> cases = {
        {[](VolumeLabelDialog& d) { QTest::keyClick(d.labelEdit(), Qt::Key_Return); }, folder},
        {[](VolumeLabelDialog& d) { QTest::keyClick(d.labelEdit(), Qt::Key_Escape); }, QString()},
        {[](VolumeLabelDialog& d) {
             d.labelEdit()->clear();
             d.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
         },
         QString()},
        {[](VolumeLabelDialog& d) {
             d.labelEdit()->setText(QStringLiteral("  spaced  "));
             d.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
         },
         QStringLiteral("  spaced  ")},
        {[](VolumeLabelDialog& d) {
             d.labelEdit()->setText(QStringLiteral("typed"));
             d.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
         },
         QString()},
    };
    for (const Case& c : cases) {
        setWaitPointer();
        QString label;
        VolumeLabelDialog dialog(label);
        // While it is open the pointer is the arrow, and the label already holds the box's text.
        EXPECT_FALSE(isWaitPointer());
        dialog.labelEdit()->setText(folder);
        EXPECT_EQ(label, folder);
        dialog.show();
        c.act(dialog);
        EXPECT_EQ(label, c.expected);
        EXPECT_TRUE(isWaitPointer());
        EXPECT_FALSE(dialog.isVisible());
    }
    setDefaultPointer();
    EXPECT_EQ(VolumeLabelDialog::explanation().split(QStringLiteral("\r\n")).size(), 4);
}

// --- the options dialog ---

TEST(OptionsDialog, OkSavesWhatTheBoxesShowAndCancelChangesNothing) {
    Settings settings;
    QString filter = QStringLiteral("*.*");
    MemorySettingsStore store;
    {
        OptionsDialog dialog(settings, filter, store);
        dialog.show();
        const auto box = [&](const char* name) {
            return dialog.findChild<QCheckBox*>(QString::fromLatin1(name));
        };
        EXPECT_TRUE(box("splashCheck")->isChecked());
        EXPECT_FALSE(box("titleOnEveryPageCheck")->isChecked());
        EXPECT_TRUE(box("titleOnFirstPageCheck")->isChecked());
        EXPECT_FALSE(box("csvCheck")->isChecked());
        box("csvCheck")->click(); // CSV: keeps the first-page title with it
        EXPECT_TRUE(box("titleOnFirstPageCheck")->isChecked());
        box("hideFoldersCheck")->click();
        box("splashCheck")->click();
        dialog.findChild<QSpinBox*>(QStringLiteral("linesPerPageBox"))->setValue(99); // held to 69
        dialog.findChild<QSpinBox*>(QStringLiteral("depthBox"))->setValue(3);
        dialog.findChild<QLineEdit*>(QStringLiteral("filterEdit"))->setText(QStringLiteral("  *.JPG "));
        dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    }
    EXPECT_EQ(settings, (Settings{.showSplash = false,
                                  .titleOnFirstPage = false,
                                  .saveAsCsv = true,
                                  .linesPerPage = 69,
                                  .depth = 3,
                                  .listFolders = true}));
    EXPECT_EQ(filter, QStringLiteral("*.JPG"));
    EXPECT_EQ(loadSettings(store), settings);

    // Opened again, it shows the CSV and the first-page boxes both checked; Cancel after clicks keeps all.
    const Settings before = settings;
    store.writes.clear();
    {
        OptionsDialog dialog(settings, filter, store);
        dialog.show();
        EXPECT_TRUE(dialog.findChild<QCheckBox*>(QStringLiteral("csvCheck"))->isChecked());
        EXPECT_TRUE(dialog.findChild<QCheckBox*>(QStringLiteral("titleOnFirstPageCheck"))->isChecked());
        dialog.findChild<QCheckBox*>(QStringLiteral("titleOnEveryPageCheck"))->click();
        dialog.findChild<QLineEdit*>(QStringLiteral("filterEdit"))->setText(QStringLiteral("   "));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    }
    EXPECT_EQ(settings, before);
    EXPECT_EQ(filter, QStringLiteral("*.JPG"));
    EXPECT_TRUE(store.writes.isEmpty());
}

// --- the version box ---

TEST(AboutBox, ShowsTheSameTextsEveryTime) {
    for (int i = 0; i < 2; ++i) {
        AboutBox box;
        box.show();
        EXPECT_EQ(box.windowTitle(), QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 Kartoma for Excel97"));
        EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("titleLabel"))->text(),
                  QStringLiteral("Kartoma for Excel97"));
        EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("versionLabel"))->text(),
                  QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.0.0"));
        EXPECT_EQ(
            box.findChild<QLabel*>(QStringLiteral("descriptionLabel"))->text().remove(QLatin1Char('\n')),
            QStringLiteral("指定したフォルダのファイルリストをエクセルファイルに出力します。"));
        QTest::keyClick(&box, i == 0 ? Qt::Key_Return : Qt::Key_Escape);
        EXPECT_FALSE(box.isVisible());
    }
}

TEST(Dialogs, TextsKeepClearOfTheControlsBelowThemUnderALargerFont) {
    const QFont before = QApplication::font();
    QFont large(QStringLiteral("DejaVu Sans"));
    large.setPointSize(15);
    QApplication::setFont(large);
    QString label;
    VolumeLabelDialog volume(label);
    AboutBox about;
    QApplication::setFont(before);
    for (QDialog* dialog : {static_cast<QDialog*>(&volume), static_cast<QDialog*>(&about)}) {
        dialog->show();
        const QList<QLabel*> texts = dialog->findChildren<QLabel*>();
        for (const QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_LE(child->geometry().bottom(), dialog->height()) << child->objectName().toStdString();
            for (const QLabel* text : texts) {
                if (text->text().contains(QLatin1Char('\n')) && child != text) {
                    EXPECT_FALSE(text->geometry().intersects(child->geometry()))
                        << text->objectName().toStdString() << " covers " << child->metaObject()->className();
                }
            }
        }
    }
}

// --- the splash ---

TEST(SplashAnimation, TilesSpiralHomeInTheLastOfFiftyOneFrames) {
    SplashAnimation animation;
    std::uint32_t seed = 1;
    animation.scatter([&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) / double(1u << 24);
    });
    for (int i = 0; i < SplashAnimation::kColumns; ++i) {
        for (int j = 0; j < SplashAnimation::kRows; ++j) {
            EXPECT_GE(animation.radius(i, j), 0);
            EXPECT_LT(animation.radius(i, j), 150);
            EXPECT_LT(animation.angle(i, j), 360);
            EXPECT_EQ(animation.tilePosition(i, j, 50), QPoint(5 * i + 80, 5 * j + 40));
            // The first frame lies the full radius away from home.
            const QPoint first = animation.tilePosition(i, j, 0) - QPoint(5 * i + 80, 5 * j + 40);
            EXPECT_NEAR(std::hypot(first.x(), first.y()), animation.radius(i, j), 1.0);
            for (int step = 0; step <= 50; ++step) {
                const int a = animation.tileAngle(i, j, step);
                EXPECT_TRUE(a >= 0 && a < 360);
            }
        }
    }
    // An angle of 355 turns to 5 in the first frame.
    SplashAnimation fixed;
    fixed.scatter([] { return 355.5 / 360; });
    EXPECT_EQ(fixed.tileAngle(0, 0, 0), 5);
    // radius floor(0.9875 * 150) = 148; frame 24 is 26 fiftieths of it from home.
    EXPECT_EQ(fixed.radius(0, 0), 148);
    EXPECT_EQ(fixed.tileAngle(0, 0, 24), 245);
    EXPECT_EQ(fixed.tilePosition(0, 0, 24), QPoint(80 - 33, 40 - 70)); // 77 pixels at 245 degrees

    // The last frame shows the logo where it belongs.
    QImage logo(106, 43, QImage::Format_RGB32);
    logo.fill(Qt::white);
    QImage surface(281, 117, QImage::Format_RGB32);
    animation.drawFrame(surface, logo, 50);
    EXPECT_EQ(surface.pixel(80, 40), qRgb(255, 255, 255));
    EXPECT_EQ(surface.pixel(80 + 105, 40 + 42), qRgb(255, 255, 255));
    EXPECT_EQ(surface.pixel(80 + 106, 40 + 20), qRgb(0, 0, 0)); // beyond the logo: black
    EXPECT_EQ(surface.pixel(79, 40), qRgb(0, 0, 0));
}

TEST(SplashWindow, HandsOverOnceAfterTheHoldAndScattersFreshEachTime) {
    int shown = 0;
    auto* splash = new SplashWindow([&shown] { ++shown; });
    splash->show();
    for (int tick = 0; tick < 51; ++tick) {
        EXPECT_FALSE(splash->finished());
        splash->tick();
    }
    EXPECT_EQ(splash->stepCount(), 51);
    EXPECT_TRUE(splash->finished());
    EXPECT_EQ(shown, 0); // the hold
    splash->tick();
    EXPECT_EQ(shown, 1);
    splash->tick();
    EXPECT_EQ(shown, 1);

    int differences = 0;
    SplashWindow other([] {});
    for (int i = 0; i < SplashAnimation::kColumns; ++i) {
        for (int j = 0; j < SplashAnimation::kRows; ++j) {
            differences += other.animation().radius(i, j) != splash->animation().radius(i, j);
        }
    }
    EXPECT_GT(differences, 100);
}

} // namespace
} // namespace kartoma

#include "QtDialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTranslator>

namespace kartoma {
namespace {

TEST(DesktopLauncher, HandsTheNameOverWholeAndNeverToAShell) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A stand-in opener that writes down the arguments it gets, one per line.
    const QString opener = dir.path() + QStringLiteral("/xdg-open");
    {
        QFile script(opener);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n");
    }
    QFile::setPermissions(opener, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()) + ":" + oldPath);
    const QString name = dir.path() + QStringLiteral("/$(touch pwned) ; rm -rf keep `touch pwned2`.csv");
    QFile keep(dir.path() + QStringLiteral("/keep"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();

    DesktopLauncher launcher;
    const bool started = launcher.openFile(name, {});
    qputenv("PATH", oldPath);
    ASSERT_TRUE(started);
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(opener + QStringLiteral(".args")) && clock.elapsed() < 10000) {
        QThread::msleep(10);
    }
    QThread::msleep(100);
    QFile args(opener + QStringLiteral(".args"));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    const QString got = QString::fromUtf8(args.readAll()).trimmed();
    // Either the path itself or its file URL, as one argument.
    EXPECT_TRUE(got == name || got.startsWith(QStringLiteral("file://"))) << got.toStdString();
    EXPECT_FALSE(got.contains(QLatin1Char('\n')));
    EXPECT_FALSE(QFile::exists(QDir::current().filePath(QStringLiteral("pwned"))));
    EXPECT_FALSE(QFile::exists(dir.path() + QStringLiteral("/pwned")));
    EXPECT_FALSE(QFile::exists(QDir::current().filePath(QStringLiteral("pwned2"))));
    EXPECT_TRUE(QFile::exists(dir.path() + QStringLiteral("/keep")));
}

TEST(QtDialogs, ASavedFileIsOfferedWithTwoButtons) {
    using Choice = Dialogs::FileChoice;
    const struct {
        const char* button; ///< the caption clicked; none: Esc
        Choice expected;
    } cases[] = {{"フォルダを開く", Choice::OpenFolder}, {"パスをコピー", Choice::CopyPath}, {nullptr, Choice::Dismiss}};
    for (const auto& k : cases) {
        QStringList captions;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        testing::whenDialogOpens([&](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            icon = box->icon();
            QPushButton* clicked = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                if (b->isVisible()) {
                    captions.append(b->text());
                }
                if (k.button != nullptr && b->text() == QString::fromUtf8(k.button)) {
                    clicked = qobject_cast<QPushButton*>(b);
                }
            }
            clicked != nullptr ? clicked->click() : QTest::keyClick(box, Qt::Key_Escape);
        });
        QtDialogs dialogs;
        EXPECT_EQ(dialogs.offerSavedFile(QStringLiteral("Kartoma"), QStringLiteral("保存されています。")), k.expected);
        EXPECT_EQ(icon, QMessageBox::Information);
        captions.sort();
        EXPECT_EQ(captions, (QStringList{QStringLiteral("パスをコピー"), QStringLiteral("フォルダを開く")}));
    }
}

TEST(QtTranslations, StandardDialogsSpeakTheUsersLanguage) {
    const std::unique_ptr<QTranslator> japanese = qtTranslatorFor(QLocale(QLocale::Japanese, QLocale::Japan));
    ASSERT_NE(japanese, nullptr) << "qt6-translations-l10n is missing";
    EXPECT_EQ(japanese->translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
    EXPECT_FALSE(japanese->translate("QFileDialog", "File &name:").isEmpty());
    EXPECT_EQ(qtTranslatorFor(QLocale::c()), nullptr);
}

TEST(DesktopLauncher, TellsWhenTheOpenerExitsWithAnError) {
    for (const auto& [opener, fails] : {std::pair{"false", true}, std::pair{"true", false}}) {
        DesktopLauncher launcher{QString::fromLatin1(opener)};
        QStringList told;
        ASSERT_TRUE(launcher.openFile(QStringLiteral("/tmp/a b.xlsx"), [&](const QString& p) { told.append(p); }));
        EXPECT_TRUE(told.isEmpty()) << "never during the call";
        QElapsedTimer clock;
        clock.start();
        while (told.isEmpty() && clock.elapsed() < (fails ? 10000 : 500)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_EQ(told, fails ? QStringList{QStringLiteral("/tmp/a b.xlsx")} : QStringList{}) << opener;
    }
}

} // namespace
} // namespace kartoma
