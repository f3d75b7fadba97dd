#pragma once

#include <QDialog>

namespace kartoma {

/// The version box: the program's title, version and what it does; OK (Enter or Esc) closes it.
class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* parent = nullptr);

    static QString titleText();   ///< "Kartoma for Excel97"
    static QString versionText(); ///< "ﾊﾞｰｼﾞｮﾝ 1.0.0"
    /// What the program does, in lines broken between words (CR LF).
    static QString descriptionText();
};

} // namespace kartoma
