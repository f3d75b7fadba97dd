#include "ReportComponent.h"

namespace kartoma {

void RangeAttr::setAttrA(int value) {
    report_.setAttr(range_, AttrMember::A, value);
}
void RangeAttr::setAttrB(int value) {
    report_.setAttr(range_, AttrMember::B, value);
}
void RangeAttr::setAttrC(int value) {
    report_.setAttr(range_, AttrMember::C, value);
}

void CellHandle::setValue(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    report_.setText(range_, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}
void CellHandle::setValueUtf8(std::string_view text) {
    report_.setText(range_, text);
}
void CellHandle::setValue(std::int64_t number) {
    report_.setNumber(range_, number);
}
void CellHandle::setRowHeight(double points) {
    report_.setRowHeight(range_, points);
}

void CellHandle::setTitleLook() {
    report_.setTitleLook(range_);
}

void PageSetupHandle::addRowBreak(int row) {
    report_.addRowBreak(row);
}

void PageSetupHandle::setPageText(const QString& left, const QString& centre, const QString& right) {
    report_.setPageText(left, centre, right);
}

void ReportComponent::appendRow(int row, std::span<const RowCell> cells, double height) {
    for (const RowCell& cell : cells) {
        const CellRange place = resolvePosition(cell.column, row, cell.column, row);
        if (cell.number) {
            setNumber(place, *cell.number);
        } else {
            setText(place, cell.text);
        }
    }
    setRowHeight(resolvePosition(0, row, 0, row), height);
}

} // namespace kartoma
