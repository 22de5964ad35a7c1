#include "pages/device_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

DeviceList::DeviceList(std::span<const DeviceListColumn> columns, QWidget* parent)
    : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setColumnCount(static_cast<int>(columns.size()));
    QStringList headings;
    for (const DeviceListColumn& column : columns) {
        headings << QString::fromLatin1(column.heading);
    }
    setHeaderLabels(headings);
    header()->setDefaultAlignment(Qt::AlignCenter);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        header()->resizeSection(i, columns[i].widthPixels);
    }
}

void DeviceList::AddRow(const QStringList& texts) {
    auto* row = new QTreeWidgetItem(this, texts);  // the list owns its rows
    for (int i = 0; i < columnCount(); ++i) {
        row->setTextAlignment(i, Qt::AlignCenter);
    }
}

int DeviceList::SelectionMark() const {
    const QModelIndex mark = currentIndex();
    if (!mark.isValid() || !selectionModel()->isSelected(mark.siblingAtColumn(0))) {
        return -1;
    }
    return mark.row();
}

void DeviceList::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    if (onClickOrKey_) {
        onClickOrKey_();
    }
}

void DeviceList::keyPressEvent(QKeyEvent* event) {
    QTreeWidget::keyPressEvent(event);
    if (onClickOrKey_) {
        onClickOrKey_();
    }
}
