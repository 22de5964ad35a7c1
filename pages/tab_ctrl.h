#pragma once

#include <QWidget>
#include <cstdlib>
#include <vector>

#include "pages/page_context.h"

class QTabBar;

// The main dialog's tab control: a tab for each page over a display area that holds the pages,
// one shown at a time. The page switched away from is hidden and disabled. The control sizes
// itself so that the largest page fits its display area.
class CTabCtrl_new final : public QWidget {
  public:
    CTabCtrl_new(PageContext& context, QWidget* parent);
    ~CTabCtrl_new() override;

    // Selects a tab as a click on it does.
    void SelectTab(int index);
    int ShownPage() const { return shownPage_; }
    int PageCount() const { return static_cast<int>(pages_.size()); }
    QWidget* Page(int index) const { return pages_[static_cast<std::size_t>(index)]; }
    // The page of that class.
    template <class PageClass>
    PageClass& PageOf() const {
        for (QWidget* page : pages_) {
            if (auto* found = dynamic_cast<PageClass*>(page)) {
                return *found;
            }
        }
        std::abort();  // every page class the dialog has is in its tab list
    }
    QTabBar& Bar() { return *bar_; }
    // Where the pages lie, in the control's coordinates.
    QRect DisplayArea() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnSelectionChange();
    void FitToPages();
    QRect FrameRect() const;

    QTabBar* bar_;
    int shownPage_ = 1;
    int pageWidth_ = 0;
    int pageHeight_ = 0;
    std::vector<QWidget*> pages_;  // owned by the control, as its children
};
