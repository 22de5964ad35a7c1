#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QProgressBar;

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
    QString Detail() const;

  private:
    QLabel* identity_;
    QLabel* state_;
    QLabel* detail_;
    QProgressBar* bar_;
    TileLook look_ = TileLook::Neutral;
};
