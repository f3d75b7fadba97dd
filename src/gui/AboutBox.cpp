#include "AboutBox.h"

#include "Twips.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace kartoma {

namespace {

constexpr int kMajor = 1, kMinor = 0, kRevision = 0;

QLabel* picture(QWidget* parent, const char* name, const char* file, QRect where) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(QPixmap(QString::fromLatin1(file)));
    label->setScaledContents(true);
    label->setGeometry(where);
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
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 Kartoma for Excel97"));
    setFixedSize(twipsToPixels(this, 5775), twipsToPixels(this, 2325));

    picture(this, "imgImage1", ":/artwork/kartoma.png", twipsRect(this, 240, 240, 540, 540));
    auto* title = new QLabel(titleText(), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont bold(QStringLiteral("ＭＳ Ｐゴシック"));
    bold.setPointSizeF(9);
    bold.setBold(true);
    title->setFont(bold);
    title->setGeometry(twipsRect(this, 1050, 240, 1995, 360));
    auto* version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    version->setGeometry(twipsRect(this, 1080, 600, 1695, 225));
    auto* notice = new QLabel(QStringLiteral("フォルダ目録ツール"), this);
    notice->setObjectName(QStringLiteral("lblLabel1"));
    notice->setGeometry(twipsRect(this, 3240, 240, 1995, 255));
    picture(this, "imgImage2", ":/artwork/toolbar-toExcel.png", twipsRect(this, 2820, 540, 480, 480));
    picture(this, "imgImage4", ":/artwork/toolbar-open.png", twipsRect(this, 3540, 570, 480, 480));
    picture(this, "imgImage3", ":/artwork/toolbar-option.png", twipsRect(this, 4260, 540, 480, 480));

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(twipsRect(this, 120, 1140, 5552 - 120, 30));

    // Broken by hand between words: left to wrap by itself, a font a little wider than the one the
    // box was drawn for breaks it inside them.
    auto* description = new QLabel(descriptionText().replace(QLatin1String("\r\n"), QLatin1String("\n")), this);
    description->setObjectName(QStringLiteral("lblDescription"));
    description->setWordWrap(false);
    description->setGeometry(twipsRect(this, 1050, 1365, 2655, 510));
    fitHeightMovingDown(description, twipsToPixels(this, 120));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(twipsRect(this, 4080, 1320, 1467, 345));
    ok->setDefault(true);
    ok->setFocus();
    // Enter presses the default button; Esc closes a dialog as well.
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace kartoma
