#include "stationwindow/station_tile.h"

#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "pages/dialog_units.h"

namespace {

// The tile's width and the gaps inside it, in dialog units of the tile's font: room for a
// serial number or an address and a short state.
constexpr int kTileWidthDu = 80;
constexpr int kTileGapDu = 4;
// The lines a result's message has on its tile; every tile is as high, so the rows line up. The
// whole message is in the tile's tooltip and accessible description.
constexpr int kDetailLines = 3;

struct LookColours {
    const char* background;
    const char* border;
    const char* text;
};

LookColours ColoursOf(TileLook look) {
    switch (look) {
        case TileLook::Running:
            return {"#1e5fb4", "#0d3c78", "#ffffff"};
        case TileLook::Passed:
            return {"#1f7a34", "#0f4d1f", "#ffffff"};
        case TileLook::Failed:
            return {"#b3261e", "#6e120d", "#ffffff"};
        case TileLook::Neutral:
            break;
    }
    return {"#e8e8e8", "#8a8a8a", "#1a1a1a"};
}

QLabel* PlainLabel(const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);  // owned by the tile
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}

// How much of `text` its first line of `width` pixels takes: up to the last word that fits, or
// at least one character.
int FirstLineLength(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    int length = 0;
    if (line.isValid()) {
        line.setLineWidth(std::max(width, 1));
        length = line.textLength();
    }
    layout.endLayout();
    return std::max(length, 1);
}

}  // namespace

QString FittedText(const QString& text, const QFont& font, int width, int lines) {
    if (width <= 0) {
        return text;  // not laid out yet
    }
    const QString mark = QStringLiteral("\u2026");
    const int markWidth = QFontMetrics(font).horizontalAdvance(mark);
    QStringList shown;
    QString rest = text.trimmed();
    while (!rest.isEmpty() && shown.size() < lines) {
        int length = FirstLineLength(rest, font, width);
        if (shown.size() + 1 == lines && length < rest.size()) {
            // The last line, and more to come: it ends shorter, in the mark.
            length = FirstLineLength(rest, font, width - markWidth);
            shown << rest.left(length).trimmed() + mark;
            break;
        }
        shown << rest.left(length).trimmed();
        rest = rest.mid(length).trimmed();
    }
    return shown.join(QLatin1Char('\n'));
}

// A result's message in the lines it has on the tile, fitted anew whenever its width changes.
class StationTile::DetailLabel final : public QLabel {
  public:
    DetailLabel(const QFont& font, QWidget* parent) : QLabel(parent) {
        setTextFormat(Qt::PlainText);
        setFont(font);
        setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setFixedHeight(QFontMetrics(font).lineSpacing() * kDetailLines);
        // The width is the tile's: the fitted text never asks for more.
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        setObjectName(QStringLiteral("detail"));
    }
    void SetWhole(const QString& text) {
        whole_ = text;
        Fit();
    }
    const QString& Whole() const { return whole_; }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Fit();
    }

  private:
    void Fit() { setText(FittedText(whole_, font(), contentsRect().width(), kDetailLines)); }
    QString whole_;
};

StationTile::StationTile(const QString& identity, const QFont& font, QWidget* parent)
    : QFrame(parent),
      identity_(PlainLabel(font, this)),
      state_(PlainLabel(font, this)),
      detail_(new DetailLabel(font, this)),
      bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("tile"));
    setFocusPolicy(Qt::TabFocus);  // a screen reader's user reaches each tile's state
    const DialogUnits units(font);
    setMinimumWidth(units.X(kTileWidthDu));
    setMaximumWidth(units.X(kTileWidthDu) * 3 / 2);
    // As high as its text: a row of tiles does not stretch to fill the window.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    QFont bold = font;
    bold.setBold(true);
    identity_->setFont(bold);
    identity_->setText(identity);
    bar_->setFont(font);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);  // the state below says the per cent in words
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(units.X(kTileGapDu), units.Y(kTileGapDu), units.X(kTileGapDu),
                               units.Y(kTileGapDu));
    layout->setSpacing(units.Y(kTileGapDu / 2));
    layout->addWidget(identity_);
    layout->addWidget(bar_);
    layout->addWidget(state_);
    layout->addWidget(detail_);
    setAccessibleName(QStringLiteral("Device %1").arg(identity));
    Show(TileLook::Neutral, QStringLiteral("waiting"), {}, 0);
}

void StationTile::Show(TileLook look, const QString& state, const QString& detail, int percent) {
    look_ = look;
    state_->setText(state);
    detail_->SetWhole(detail);
    setToolTip(detail);
    if (percent >= 0) {
        bar_->setValue(percent);
    }
    const LookColours c = ColoursOf(look);
    setStyleSheet(
        QStringLiteral("#tile { background: %1; border: 3px solid %2; border-radius: 6px; }"
                       "#tile:focus { border: 5px dashed %3; }"
                       "#tile QLabel { color: %3; background: transparent; }")
            .arg(QLatin1String(c.background), QLatin1String(c.border), QLatin1String(c.text)));
    setAccessibleDescription(detail.isEmpty() ? state : state + QStringLiteral(": ") + detail);
}

QString StationTile::State() const {
    return state_->text();
}

QString StationTile::Detail() const {
    return detail_->Whole();
}
