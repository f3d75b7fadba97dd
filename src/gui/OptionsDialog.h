#pragma once

#include "OptionsForm.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kartoma {

class SettingsStore;

/// "オプション設定": shows the eight options, the filter and the library folder (with a button
/// that picks it); OK applies and saves them, Cancel (or any other close) changes nothing.
class OptionsDialog final : public QDialog {
public:
    OptionsDialog(Settings& settings, QString& filterPattern, SettingsStore& store,
                  QWidget* parent = nullptr);

private:
    QGridLayout* buildBoxes();
    QHBoxLayout* buildLibraryRow();
    QHBoxLayout* buildButtonRow();
    void showForm();
    void chooseLibraryFolder();
    void accept() override;

    Settings& settings_;
    QString& filterPattern_;
    SettingsStore& store_;
    OptionsForm form_;
    std::array<QCheckBox*, 6> boxes_{};
    QSpinBox* pageLines_ = nullptr;
    QSpinBox* depth_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QLineEdit* library_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool showing_ = false;
};

} // namespace kartoma
