#include "VolumeLabelDialog.h"

#include "Pointer.h"

#include <QFrame>
#include <QGridLayout>
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
    setObjectName(QStringLiteral("volumeLabelDialog"));
    setWindowTitle(QStringLiteral("ボリュームラベルの設定"));

    // The arrow while the user types; remember the label from before.
    setDefaultPointer();
    labelBefore_ = volumeLabel_;

    // The line ends are CR LF; a label shows LF as the line break.
    auto* explanationLabel = new QLabel(explanation().replace(QLatin1String("\r\n"), QLatin1String("\n")));
    explanationLabel->setObjectName(QStringLiteral("explanationLabel"));
    auto* rule = new QFrame;
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);

    edit_ = new QLineEdit;
    edit_->setObjectName(QStringLiteral("labelEdit"));
    edit_->setMinimumWidth(171);
    // Every edit, by the user or by code, is the label at once.
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { volumeLabel_ = text; });
    auto* caption = new QLabel(QStringLiteral("ボリュームラベル"));
    caption->setObjectName(QStringLiteral("labelCaption"));
    caption->setBuddy(edit_);

    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    ok->setAutoDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The explanation over a rule; below it the label's box, with the buttons lined up under it.
    explanationLabel->setContentsMargins(12, 0, 0, 0);
    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setContentsMargins(32, 8, 20, 8);
    grid->setHorizontalSpacing(18);
    grid->setColumnMinimumWidth(0, 110);
    grid->setColumnMinimumWidth(1, 78);
    grid->addWidget(explanationLabel, 0, 0, 1, 3);
    grid->addWidget(rule, 1, 0, 1, 3);
    grid->addWidget(caption, 2, 0, Qt::AlignRight);
    grid->addWidget(edit_, 2, 1, 1, 2);
    grid->addWidget(ok, 3, 1, Qt::AlignLeft);
    grid->addWidget(cancel, 3, 2, Qt::AlignLeft);

    setTabOrder(edit_, ok);
    setTabOrder(ok, cancel);
    connect(this, &QDialog::accepted, this, &VolumeLabelDialog::accepted);
    connect(this, &QDialog::rejected, this, &VolumeLabelDialog::rejected);
}

void VolumeLabelDialog::accepted() {
    volumeLabel_ = edit_->text();
    setWaitPointer();
}

void VolumeLabelDialog::rejected() {
    // Esc and the close box come here too.
    volumeLabel_ = labelBefore_;
    setWaitPointer();
}

} // namespace kartoma
