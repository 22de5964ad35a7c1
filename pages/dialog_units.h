#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

// Positions in dialog units, turned into pixels from a font's metrics the way dialog
// templates are: a horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height. Layouts written in dialog units keep their
// proportions whatever font and resolution the desktop uses.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight) : baseWidth_(baseWidth), baseHeight_(baseHeight) {}

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    // Sets the widget's geometry from a template position.
    void Place(QWidget& widget, int x, int y, int width, int height) const;

  private:
    int baseWidth_;
    int baseHeight_;
};

// The font the dialogs are laid out in: the desktop's sans-serif face at 8 points.
QFont DialogFont();
