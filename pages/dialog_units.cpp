#include "pages/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>
#include <QWidget>

namespace {

// Rounded a * b / c, as the units are converted in dialog templates.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

int AverageCharWidth(const QFontMetrics& metrics) {
    // The mean advance of the 52 letters, rounded half up.
    const int total = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return (total / 26 + 1) / 2;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font)
    : baseWidth_(AverageCharWidth(QFontMetrics(font))), baseHeight_(QFontMetrics(font).height()) {}

int DialogUnits::X(int units) const {
    return MulDiv(units, baseWidth_, 4);
}

int DialogUnits::Y(int units) const {
    return MulDiv(units, baseHeight_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

void DialogUnits::Place(QWidget& widget, int x, int y, int width, int height) const {
    widget.setGeometry(Rect(x, y, width, height));
}

QFont DialogFont() {
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}
