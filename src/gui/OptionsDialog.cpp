#include "OptionsDialog.h"

#include "Settings.h"
#include "Twips.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

namespace kartoma {

namespace {

/// A numeric box with its caption drawn as part of it, bounded to its range.
QSpinBox* numberBox(QWidget* parent, const char* name, const QString& caption, int minimum, int maximum,
                    QRect where) {
    auto* label = new QLabel(caption, parent);
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    box->setAccessibleName(caption);
    const int captionWidth = where.width() * 11 / 20;
    label->setGeometry(where.x(), where.y() - 2, captionWidth, where.height() + 4);
    label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Caption"));
    box->setGeometry(where.x() + captionWidth, where.y() - 3, where.width() - captionWidth,
                     where.height() + 6);
    label->setBuddy(box);
    return box;
}

/// The height of the library folder's row, which the filter row and the buttons are moved down by.
constexpr int kLibraryRow = 420;

} // namespace

OptionsDialog::OptionsDialog(Settings& settings, QString& filterPattern, SettingsStore& store,
                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings), filterPattern_(filterPattern), store_(store), form_(settings, filterPattern) {
    setObjectName(QStringLiteral("frmOPT"));
    setWindowTitle(QStringLiteral("オプション設定"));
    // One row more than the eight options had, for the library folder.
    setFixedSize(twipsToPixels(this, 5940), twipsToPixels(this, 3495 + kLibraryRow));

    struct BoxPlace {
        OptionsForm::Box box;
        const char* name;
        const char* text;
        int left, top, width, height;
    };
    const BoxPlace places[] = {
        {OptionsForm::Splash, "chkCheck0", "スプラッシュ画面を表示", 360, 120, 2295, 345},
        {OptionsForm::AllTitle, "chkCheck1", "ページ毎にタイトルを挿入", 360, 530, 2295, 345},
        {OptionsForm::OneTitle, "chkCheck2", "１ページだけタイトル表示", 360, 940, 2295, 255},
        {OptionsForm::Label, "chkCheck4", "ボリュームラベルが設定されていない時ラベルの入力確認をする.", 360,
         1320, 3375, 495},
        {OptionsForm::Folder, "chkCheck5", "フォルダのみの時非表示", 3360, 120, 2295, 345},
        {OptionsForm::Csv, "chkCheck3", "CSV形式で、ファイル保存", 3360, 540, 2295, 255},
    };
    for (const BoxPlace& p : places) {
        auto* box = new QCheckBox(QString::fromUtf8(p.text), this);
        box->setObjectName(QString::fromLatin1(p.name));
        box->setGeometry(twipsRect(this, p.left, p.top - 40, p.width + 400, p.height + 80));
        if (p.box == OptionsForm::Label) {
            // Two lines, as the box is laid out.
            box->setText(QStringLiteral("ボリュームラベルが設定されていない時\nラベルの入力確認をする."));
            box->setStyleSheet(QStringLiteral("QCheckBox { padding: 0px; }"));
            box->setMinimumHeight(twipsToPixels(this, 495));
        }
        boxes_[p.box] = box;
        const OptionsForm::Box which = p.box;
        connect(box, &QCheckBox::clicked, this, [this, which] {
            if (!showing_) {
                form_.click(which);
                showForm();
            }
        });
    }

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(twipsRect(this, 360, 2040, 5280 - 360, 30));

    pageLines_ =
        numberBox(this, "xNum1", QStringLiteral("ページ行数"), 51, 69, twipsRect(this, 360, 2280, 2175, 255));
    auto* pageNote = new QLabel(QStringLiteral("( ５１行 ～ ６９行 )"), this);
    pageNote->setGeometry(twipsRect(this, 2880, 2340, 1775, 260));
    depth_ =
        numberBox(this, "xNum2", QStringLiteral("検索階層"), 1, 8, twipsRect(this, 360, 2640, 2175, 255));
    auto* depthNote = new QLabel(QStringLiteral("( １ ～ ８ )"), this);
    depthNote->setGeometry(twipsRect(this, 2880, 2660, 1115, 260));

    auto* libraryLabel = new QLabel(QStringLiteral("ライブラリフォルダ"), this);
    library_ = new QLineEdit(this);
    library_->setObjectName(QStringLiteral("libraryFolderEdit"));
    // The box starts clear of its caption, however wide the font makes it.
    const QRect caption = twipsRect(this, 360, 3090, 1500, 260);
    QRect box = twipsRect(this, 1920, 3060, 2640, 315);
    box.setLeft(std::max(box.left(), caption.left() + libraryLabel->sizeHint().width() + 6));
    libraryLabel->setGeometry(caption.adjusted(0, 0, box.left() - caption.right() - 1, 0));
    library_->setGeometry(box);
    libraryLabel->setBuddy(library_);
    auto* browse = new QPushButton(QStringLiteral("参照..."), this);
    browse->setObjectName(QStringLiteral("libraryFolderButton"));
    browse->setAutoDefault(false);
    browse->setGeometry(twipsRect(this, 4680, 3045, 1095, 345));
    connect(browse, &QPushButton::clicked, this, &OptionsDialog::chooseLibraryFolder);

    const int row = 3060 + kLibraryRow;
    auto* mark = new QLabel(QStringLiteral("*"), this);
    mark->setStyleSheet(QStringLiteral("color: red;"));
    mark->setGeometry(twipsRect(this, 180, row + 60, 120, 220));
    auto* filterLabel = new QLabel(QStringLiteral("フィルタ"), this);
    filterLabel->setGeometry(twipsRect(this, 360, row + 30, 760, 260));
    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("txtText1"));
    filter_->setGeometry(twipsRect(this, 1140, row, 1335, 315));
    filterLabel->setBuddy(filter_);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK1"));
    ok->setGeometry(twipsRect(this, 3240, row, 1095, 345));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &OptionsDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel1"));
    cancel->setGeometry(twipsRect(this, 4680, row, 1095, 345));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(boxes_[OptionsForm::Splash], boxes_[OptionsForm::AllTitle]);
    setTabOrder(boxes_[OptionsForm::AllTitle], boxes_[OptionsForm::OneTitle]);
    setTabOrder(boxes_[OptionsForm::OneTitle], boxes_[OptionsForm::Label]);
    setTabOrder(boxes_[OptionsForm::Label], boxes_[OptionsForm::Folder]);
    setTabOrder(boxes_[OptionsForm::Folder], boxes_[OptionsForm::Csv]);
    setTabOrder(boxes_[OptionsForm::Csv], pageLines_);
    setTabOrder(pageLines_, depth_);
    setTabOrder(depth_, library_);
    setTabOrder(library_, browse);
    setTabOrder(browse, filter_);
    setTabOrder(filter_, ok);
    setTabOrder(ok, cancel);

    filter_->setText(form_.filter());
    form_.showLibraryFolder(libraryFolder(store));
    library_->setText(form_.libraryFolder());
    // Values outside the boxes' ranges are handed over as they are; the boxes clamp them.
    pageLines_->setValue(static_cast<int>(form_.pageLines()));
    depth_->setValue(static_cast<int>(form_.depth()));
    showForm();
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
