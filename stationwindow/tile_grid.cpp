#include "stationwindow/tile_grid.h"

#include <QGridLayout>
#include <QResizeEvent>
#include <algorithm>

TileGrid::TileGrid(QWidget* parent) : QWidget(parent), layout_(new QGridLayout(this)) {
    layout_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    // The layout would hold the grid as wide as its columns; the grid sets its own size.
    layout_->setSizeConstraint(QLayout::SetNoConstraint);
}

QSize TileGrid::minimumSizeHint() const {
    const QMargins margins = layout_->contentsMargins();
    return {TileWidth() + margins.left() + margins.right(), layout_->minimumSize().height()};
}

int TileGrid::TileWidth() const {
    int tileWidth = 1;
    for (const QWidget* tile : tiles_) {
        tileWidth = std::max(tileWidth, tile->minimumWidth());
    }
    return tileWidth;
}

void TileGrid::Add(QWidget* tile) {
    tile->setParent(this);
    tiles_.push_back(tile);
    Reflow(ColumnsFor(width()));
    tile->show();
}

void TileGrid::Remove(QWidget* tile) {
    std::erase(tiles_, tile);
    layout_->removeWidget(tile);
    tile->hide();
    tile->deleteLater();
    Reflow(ColumnsFor(width()));
}

int TileGrid::ColumnsFor(int width) const {
    const int tileWidth = TileWidth();
    const int gap = layout_->horizontalSpacing();
    const QMargins margins = layout_->contentsMargins();
    const int room = width - margins.left() - margins.right() + gap;
    return std::max(1, room / (tileWidth + gap));
}

void TileGrid::Reflow(int columns) {
    columns_ = columns;
    for (QWidget* tile : tiles_) {
        layout_->removeWidget(tile);
    }
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        const int at = static_cast<int>(i);
        layout_->addWidget(tiles_[i], at / columns, at % columns, Qt::AlignTop);
    }
    for (int column = 0; column < layout_->columnCount(); ++column) {
        layout_->setColumnStretch(column, column < columns ? 1 : 0);
    }
    // The tab order follows the rows.
    for (std::size_t i = 1; i < tiles_.size(); ++i) {
        setTabOrder(tiles_[i - 1], tiles_[i]);
    }
    updateGeometry();
}

void TileGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (const int columns = ColumnsFor(event->size().width()); columns != columns_) {
        Reflow(columns);
    }
}
