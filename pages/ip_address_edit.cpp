#include "pages/ip_address_edit.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QValidator>

namespace {

constexpr int kMaxDigits = 3;
constexpr int kMaxValue = 255;

// Up to three digits worth at most 255: a number that would not fit is never shown.
class FieldValidator final : public QValidator {
  public:
    using QValidator::QValidator;

    State validate(QString& input, int& /*pos*/) const override {
        if (input.isEmpty()) {
            return Intermediate;
        }
        if (input.size() > kMaxDigits) {
            return Invalid;
        }
        for (const QChar c : input) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return Invalid;
            }
        }
        return input.toInt() <= kMaxValue ? Acceptable : Invalid;
    }
};

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    for (int i = 0; i < kFieldCount; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setMaxLength(kMaxDigits);
        edit->setValidator(new FieldValidator(edit));
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            // A full field moves the caret on, as a typist of addresses expects.
            if (text.size() == kMaxDigits && i + 1 < kFieldCount) {
                FocusField(i + 1);
            }
        });
        connect(edit, &QLineEdit::textChanged, this, [this, i] { emit fieldChanged(i); });
        fields_[static_cast<std::size_t>(i)] = edit;
        if (i + 1 < kFieldCount) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dots_[static_cast<std::size_t>(i)] = dot;
        }
    }
    setFocusProxy(fields_[0]);
}

std::optional<int> IpAddressEdit::Field(int index) const {
    const QString text = fields_[static_cast<std::size_t>(index)]->text();
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

std::array<int, IpAddressEdit::kFieldCount> IpAddressEdit::Numbers() const {
    std::array<int, kFieldCount> numbers{};
    for (int i = 0; i < kFieldCount; ++i) {
        numbers[static_cast<std::size_t>(i)] = Field(i).value_or(0);
    }
    return numbers;
}

void IpAddressEdit::SetAddress(const QString& dotted) {
    const QStringList parts = dotted.split(QLatin1Char('.'));
    for (int i = 0; i < kFieldCount; ++i) {
        QString part = i < parts.size() ? parts[i].trimmed() : QString();
        int pos = 0;
        if (fields_[static_cast<std::size_t>(i)]->validator()->validate(part, pos) !=
            QValidator::Acceptable) {
            part.clear();
        }
        fields_[static_cast<std::size_t>(i)]->setText(part);
    }
}

void IpAddressEdit::Clear() {
    for (QLineEdit* edit : fields_) {
        edit->clear();
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index < 0 || event->type() != QEvent::KeyPress) {
        return QFrame::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* edit = fields_[static_cast<std::size_t>(index)];
    const bool atStart = edit->cursorPosition() == 0 && !edit->hasSelectedText();
    if ((key->text() == QStringLiteral(".") || key->key() == Qt::Key_Space) &&
        index + 1 < kFieldCount) {
        // A dot ends the field; an empty field does not skip ahead.
        if (!edit->text().isEmpty()) {
            FocusField(index + 1);
        }
        return true;
    }
    if (key->key() == Qt::Key_Backspace && atStart && index > 0) {
        QLineEdit* previous = fields_[static_cast<std::size_t>(index - 1)];
        previous->setFocus();
        previous->end(false);
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void IpAddressEdit::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    LayOutFields();
}

void IpAddressEdit::LayOutFields() {
    const QRect area = contentsRect();
    const int dotWidth = QFontMetrics(font()).horizontalAdvance(QLatin1Char('.')) + 2;
    const int fieldWidth = (area.width() - dotWidth * (kFieldCount - 1)) / kFieldCount;
    int x = area.left();
    for (int i = 0; i < kFieldCount; ++i) {
        fields_[static_cast<std::size_t>(i)]->setGeometry(x, area.top(), fieldWidth, area.height());
        x += fieldWidth;
        if (i + 1 < kFieldCount) {
            dots_[static_cast<std::size_t>(i)]->setGeometry(x, area.top(), dotWidth, area.height());
            x += dotWidth;
        }
    }
}

void IpAddressEdit::FocusField(int index) {
    QLineEdit* edit = fields_[static_cast<std::size_t>(index)];
    edit->setFocus();
    edit->selectAll();
}

int IpAddressEdit::IndexOf(QObject* edit) const {
    for (int i = 0; i < kFieldCount; ++i) {
        if (fields_[static_cast<std::size_t>(i)] == edit) {
            return i;
        }
    }
    return -1;
}
