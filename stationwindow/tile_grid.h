#pragma once

#include <QWidget>
#include <vector>

class QGridLayout;

// The tiles in rows as wide as the window allows: as many columns as fit, reflowed whenever
// the width changes, in the order the tiles came.
class TileGrid final : public QWidget {
    Q_OBJECT
  public:
    explicit TileGrid(QWidget* parent = nullptr);

    void Add(QWidget* tile);
    // Takes the tile out of the grid; it is deleted once the events of the moment have run.
    void Remove(QWidget* tile);
    int Columns() const { return columns_; }
    // As narrow as one tile, as high as the rows of the present columns: the window decides
    // the width, the grid follows it.
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override { return minimumSizeHint(); }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    int TileWidth() const;
    int ColumnsFor(int width) const;
    void Reflow(int columns);

    QGridLayout* layout_;
    std::vector<QWidget*> tiles_;
    int columns_ = 1;
};
