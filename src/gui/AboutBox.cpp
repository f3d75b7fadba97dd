#include "AboutBox.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kartoma {

namespace {

constexpr int kMajor = 1, kMinor = 0, kRevision = 0;

QLabel* picture(const char* name, const char* file, int size) {
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(QPixmap(QString::fromLatin1(file)));
    label->setScaledContents(true);
    label->setFixedSize(size, size);
    return label;
}

} // namespace

QString AboutBox::titleText() {
    return QStringLiteral("Kartoma") + QStringLiteral(" for Excel97");
}

QString AboutBox::versionText() {
    return QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3").arg(kMajor).arg(kMinor).arg(kRevision);
}

QString AboutBox::descriptionText() {
    return QStringLiteral("指定したフォルダの\r\nファイルリストを\r\nエクセルファイルに\r\n出力します。");
}

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent,
              Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 Kartoma for Excel97"));

    auto* title = new QLabel(titleText());
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont bold(QStringLiteral("ＭＳ Ｐゴシック"));
    bold.setPointSizeF(9);
    bold.setBold(true);
    title->setFont(bold);
    auto* version = new QLabel(versionText());
    version->setObjectName(QStringLiteral("versionLabel"));
    auto* notice = new QLabel(QStringLiteral("フォルダ目録ツール"));
    notice->setObjectName(QStringLiteral("noticeLabel"));
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    // Broken by hand between words: left to wrap by itself, a font a little wider than the one the
    // box was drawn for breaks it inside them.
    auto* description = new QLabel(descriptionText().replace(QLatin1String("\r\n"), QLatin1String("\n")));
    description->setObjectName(QStringLiteral("descriptionLabel"));
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setMinimumWidth(104);
    // Enter presses the default button; Esc closes a dialog as well.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* pictures = new QHBoxLayout;
    pictures->setSpacing(16);
    pictures->addWidget(picture("createListImage", ":/artwork/toolbar-toExcel.png", 32));
    pictures->addWidget(picture("openListImage", ":/artwork/toolbar-open.png", 32));
    pictures->addWidget(picture("optionsImage", ":/artwork/toolbar-option.png", 32));

    // The icon, the title and the version on the left, the tool's pictures on the right; under the
    // rule, what the program does beside the OK button.
    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setContentsMargins(16, 16, 24, 12);
    grid->setHorizontalSpacing(18);
    grid->addWidget(picture("iconImage", ":/artwork/kartoma.png", 36), 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(title, 0, 1);
    grid->addWidget(version, 1, 1, Qt::AlignTop);
    grid->addWidget(notice, 0, 2);
    grid->addLayout(pictures, 1, 2);
    grid->addWidget(rule, 2, 0, 1, 3);
    grid->addWidget(description, 3, 1);
    grid->addWidget(ok, 3, 2, Qt::AlignRight | Qt::AlignTop);
    ok->setFocus();
}

} // namespace kartoma
