#include "VolumeLabelDialog.h"

#include "Pointer.h"
#include "Twips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kartoma {

QString VolumeLabelDialog::explanation() {
    return QStringLiteral("ボリュームラベルの設定がされていません。\r\n"
                          "メディアの識別のために何か入力することをおすすめします。\r\n"
                          "エクセルファイルにボリューム名を書きますが、\r\n"
                          "メディアへ書き込むことはしません。");
}

VolumeLabelDialog::VolumeLabelDialog(QString& volumeLabel, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      volumeLabel_(volumeLabel) {
    setObjectName(QStringLiteral("frmVLabel"));
    setWindowTitle(QStringLiteral("ボリュームラベルの設定"));
    setFixedSize(twipsToPixels(this, 5850), twipsToPixels(this, 2205));

    // Form_Load: the arrow while the user types; remember the label from before.
    setDefaultPointer();
    oldVname_ = volumeLabel_;

    auto* label1 = new QLabel(this);
    label1->setObjectName(QStringLiteral("lblLabel1"));
    label1->setGeometry(twipsRect(this, 660, 120, 4725, 825));
    // The line ends are CR LF; a label shows LF as the line break.
    label1->setText(explanation().replace(QLatin1String("\r\n"), QLatin1String("\n")));
    label1->setWordWrap(false);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(twipsRect(this, 480, 1080, 5400 - 480, 30));

    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("txtText1"));
    text_->setGeometry(twipsRect(this, 2400, 1200, 2565, 345));
    // txtText1_Change: every edit, by the user or by code, is the label at once.
    connect(text_, &QLineEdit::textChanged, this, [this](const QString& text) { volumeLabel_ = text; });

    auto* label2 = new QLabel(QStringLiteral("ボリュームラベル"), this);
    label2->setObjectName(QStringLiteral("lblLabel2"));
    label2->setGeometry(twipsRect(this, 930, 1320, 1425, 255));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setGeometry(twipsRect(this, 2400, 1770, 1095, 345));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setGeometry(twipsRect(this, 3840, 1770, 1095, 345));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    fitHeightMovingDown(label1, twipsToPixels(this, 120));

    setTabOrder(text_, ok);
    setTabOrder(ok, cancel);
    connect(this, &QDialog::accepted, this, &VolumeLabelDialog::accepted);
    connect(this, &QDialog::rejected, this, &VolumeLabelDialog::rejected);
}

void VolumeLabelDialog::accepted() {
    volumeLabel_ = text_->text();
    setWaitPointer();
}

void VolumeLabelDialog::rejected() {
    // Esc and the close box come here too.
    volumeLabel_ = oldVname_;
    setWaitPointer();
}

} // namespace kartoma
