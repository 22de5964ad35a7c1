#pragma once

#include <QFrame>
#include <QString>
#include <array>
#include <optional>

class QLabel;
class QLineEdit;

// A four-field IPv4 address control. Each field takes a number from 0 to 255; typing a dot,
// or a third digit, moves on to the next field. fieldChanged is sent on every change of a
// field's text.
class IpAddressEdit final : public QFrame {
    Q_OBJECT

  public:
    static constexpr int kFieldCount = 4;

    explicit IpAddressEdit(QWidget* parent = nullptr);

    // The number in a field, or nothing while the field is blank.
    std::optional<int> Field(int index) const;
    // The four numbers; a blank field reads as 0.
    std::array<int, kFieldCount> Numbers() const;

    // Fills the fields from a dotted address; a part that is not a number leaves its field blank.
    void SetAddress(const QString& dotted);
    void Clear();

    QLineEdit& FieldEdit(int index) { return *fields_[static_cast<std::size_t>(index)]; }

  signals:
    void fieldChanged(int index);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void LayOutFields();
    void FocusField(int index);
    int IndexOf(QObject* edit) const;

    std::array<QLineEdit*, kFieldCount> fields_{};
    std::array<QLabel*, kFieldCount - 1> dots_{};
};
