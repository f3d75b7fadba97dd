#pragma once

#include <QDialog>

class QLineEdit;

namespace kartoma {

/// Asks for a name for a medium that has no volume label. It writes the label it is given
/// on every edit; OK keeps the text, Cancel puts back the label it found when it was made.
class VolumeLabelDialog final : public QDialog {
public:
    VolumeLabelDialog(QString& volumeLabel, QWidget* parent = nullptr);

    /// The explanation shown at the top, four lines.
    static QString explanation();
    QLineEdit* labelEdit() const { return edit_; }

private:
    void accepted();
    void rejected();

    QString& volumeLabel_;
    QString labelBefore_;
    QLineEdit* edit_;
};

} // namespace kartoma
