#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QProgressBar;

// `text` in at most `lines` lines of `width` pixels, wrapped at words; when it needs more, the
// last line ends in "\u2026" where the text is cut.
QString FittedText(const QString& text, const QFont& font, int width, int lines);

// How a tile looks: waiting is neutral, running blue, passed green, failed red. The words and
// signs on the tile say the same, so nothing rests on colour alone.
enum class TileLook { Neutral, Running, Passed, Failed };

// One slot's or device's tile: its identity, a progress bar and its state in words, in the
// large font the window gives it. Its accessible description is its state.
class StationTile final : public QFrame {
    Q_OBJECT
  public:
    StationTile(const QString& identity, const QFont& font, QWidget* parent = nullptr);

    // `percent` below 0 keeps the bar where it is.
    void Show(TileLook look, const QString& state, const QString& detail, int percent);

    TileLook Look() const { return look_; }
    QString State() const;
    // The whole message; the tile shows what fits of it, its tooltip the whole.
    QString Detail() const;

  private:
    class DetailLabel;
    QLabel* identity_;
    QLabel* state_;
    DetailLabel* detail_;
    QProgressBar* bar_;
    TileLook look_ = TileLook::Neutral;
};
