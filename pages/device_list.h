#pragma once

#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <span>

// One column of a device list: its heading and its width in pixels.
struct DeviceListColumn {
    const char* heading;
    int widthPixels;
};

// The attached devices of a USB page, one row each: a report-style list with centred columns,
// selected by whole rows. The selection mark is the row the user last picked, while it is
// still selected.
class DeviceList final : public QTreeWidget {
  public:
    DeviceList(std::span<const DeviceListColumn> columns, QWidget* parent);

    void AddRow(const QStringList& texts);
    // The row of the selection mark, or -1 for none.
    int SelectionMark() const;
    // Called after each click and each key press in the list, once the list has handled it.
    void SetClickOrKeyHandler(std::function<void()> handler) { onClickOrKey_ = std::move(handler); }

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::function<void()> onClickOrKey_;
};
