#include "OptionsDialog.h"

#include "Settings.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kartoma {

namespace {

/// A numeric box bounded to its range, in row `row` of `grid`: its caption, the box, and a note of
/// the range.
QSpinBox* addNumberRow(QGridLayout* grid, int row, const char* name, const QString& caption, int minimum,
                       int maximum, const QString& note) {
    auto* label = new QLabel(caption);
    label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Caption"));
    auto* box = new QSpinBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    box->setAccessibleName(caption);
    box->setMinimumWidth(64);
    label->setBuddy(box);
    grid->addWidget(label, row, 0);
    grid->addWidget(box, row, 1);
    grid->addWidget(new QLabel(note), row, 2);
    return box;
}

QFrame* horizontalRule() {
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

/// A line edit named `name`, at least `width` wide, with its caption `text`, which gives it the focus.
QLineEdit* captionedEdit(const QString& text, const char* name, int width, QLabel*& caption) {
    caption = new QLabel(text);
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setMinimumWidth(width);
    caption->setBuddy(edit);
    return edit;
}

} // namespace

OptionsDialog::OptionsDialog(Settings& settings, QString& filterPattern, SettingsStore& store,
                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings), filterPattern_(filterPattern), store_(store), form_(settings, filterPattern) {
    setObjectName(QStringLiteral("optionsDialog"));
    setWindowTitle(QStringLiteral("オプション設定"));

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(24, 10, 18, 12);
    layout->addLayout(buildBoxes());
    layout->addWidget(horizontalRule());
    auto* numbers = new QGridLayout;
    pageLines_ = addNumberRow(numbers, 0, "linesPerPageBox", QStringLiteral("ページ行数"), 51, 69,
                              QStringLiteral("( ５１行 ～ ６９行 )"));
    depth_ = addNumberRow(numbers, 1, "depthBox", QStringLiteral("検索階層"), 1, 8,
                          QStringLiteral("( １ ～ ８ )"));
    numbers->setColumnStretch(3, 1);
    layout->addLayout(numbers);
    layout->addLayout(buildLibraryRow());
    layout->addLayout(buildButtonRow());

    setTabOrder(boxes_[OptionsForm::Splash], boxes_[OptionsForm::TitleOnEveryPage]);
    setTabOrder(boxes_[OptionsForm::TitleOnEveryPage], boxes_[OptionsForm::TitleOnFirstPage]);
    setTabOrder(boxes_[OptionsForm::TitleOnFirstPage], boxes_[OptionsForm::AskForLabel]);
    setTabOrder(boxes_[OptionsForm::AskForLabel], boxes_[OptionsForm::HideFolders]);
    setTabOrder(boxes_[OptionsForm::HideFolders], boxes_[OptionsForm::Csv]);
    setTabOrder(boxes_[OptionsForm::Csv], pageLines_);
    setTabOrder(pageLines_, depth_);
    setTabOrder(depth_, library_);
    setTabOrder(library_, browse_);
    setTabOrder(browse_, filter_);
    setTabOrder(filter_, ok_);
    setTabOrder(ok_, cancel_);

    filter_->setText(form_.filter());
    form_.showLibraryFolder(libraryFolder(store));
    library_->setText(form_.libraryFolder());
    // Values outside the boxes' ranges are handed over as they are; the boxes clamp them.
    pageLines_->setValue(static_cast<int>(form_.pageLines()));
    depth_->setValue(static_cast<int>(form_.depth()));
    showForm();
}

QGridLayout* OptionsDialog::buildBoxes() {
    struct BoxPlace {
        OptionsForm::Box box;
        const char* name;
        const char* text;
        int row, column, columnSpan;
    };
    const BoxPlace places[] = {
        {OptionsForm::Splash, "splashCheck", "スプラッシュ画面を表示", 0, 0, 1},
        {OptionsForm::TitleOnEveryPage, "titleOnEveryPageCheck", "ページ毎にタイトルを挿入", 1, 0, 1},
        {OptionsForm::TitleOnFirstPage, "titleOnFirstPageCheck", "１ページだけタイトル表示", 2, 0, 1},
        // Two lines, broken where the words allow.
        {OptionsForm::AskForLabel, "askForLabelCheck",
         "ボリュームラベルが設定されていない時\nラベルの入力確認をする.", 3, 0, 2},
        {OptionsForm::HideFolders, "hideFoldersCheck", "フォルダのみの時非表示", 0, 1, 1},
        {OptionsForm::Csv, "csvCheck", "CSV形式で、ファイル保存", 1, 1, 1},
    };
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    for (const BoxPlace& p : places) {
        auto* box = new QCheckBox(QString::fromUtf8(p.text));
        box->setObjectName(QString::fromLatin1(p.name));
        grid->addWidget(box, p.row, p.column, 1, p.columnSpan);
        boxes_[p.box] = box;
        const OptionsForm::Box which = p.box;
        connect(box, &QCheckBox::clicked, this, [this, which] {
            if (!showing_) {
                form_.click(which);
                showForm();
            }
        });
    }
    return grid;
}

QHBoxLayout* OptionsDialog::buildLibraryRow() {
    auto* row = new QHBoxLayout;
    QLabel* caption = nullptr;
    library_ = captionedEdit(QStringLiteral("ライブラリフォルダ"), "libraryFolderEdit", 176, caption);
    browse_ = new QPushButton(QStringLiteral("参照..."));
    browse_->setObjectName(QStringLiteral("libraryFolderButton"));
    browse_->setAutoDefault(false);
    connect(browse_, &QPushButton::clicked, this, &OptionsDialog::chooseLibraryFolder);
    row->addWidget(caption);
    row->addWidget(library_, 1);
    row->addWidget(browse_);
    return row;
}

QHBoxLayout* OptionsDialog::buildButtonRow() {
    auto* row = new QHBoxLayout;
    auto* mark = new QLabel(QStringLiteral("*"));
    mark->setStyleSheet(QStringLiteral("color: red;"));
    QLabel* caption = nullptr;
    filter_ = captionedEdit(QStringLiteral("フィルタ"), "filterEdit", 89, caption);
    ok_ = new QPushButton(QStringLiteral("OK"));
    ok_->setObjectName(QStringLiteral("okButton"));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &OptionsDialog::accept);
    cancel_ = new QPushButton(QStringLiteral("キャンセル"));
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(mark);
    row->addWidget(caption);
    row->addWidget(filter_);
    row->addStretch(1);
    row->addWidget(ok_);
    row->addWidget(cancel_);
    return row;
}

void OptionsDialog::showForm() {
    showing_ = true;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        boxes_[i]->setChecked(form_.checked(static_cast<OptionsForm::Box>(i)));
    }
    showing_ = false;
}

void OptionsDialog::chooseLibraryFolder() {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, QStringLiteral("ライブラリフォルダ"), library_->text());
    if (!chosen.isEmpty()) {
        library_->setText(chosen);
    }
}

void OptionsDialog::accept() {
    form_.setFilter(filter_->text());
    form_.setPageLines(pageLines_->value());
    form_.setDepth(depth_->value());
    form_.setLibraryFolder(library_->text());
    form_.apply(settings_, filterPattern_, store_);
    QDialog::accept();
}

} // namespace kartoma
