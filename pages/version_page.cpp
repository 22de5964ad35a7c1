#include "pages/version_page.h"

#include <QGroupBox>
#include <QIcon>
#include <QMouseEvent>
#include <QPixmap>

#include "pages/dialog_units.h"

namespace {

// The version is fixed here, not taken from the build.
constexpr const char* kVersion = "Vers.: 1.1.2.2";
constexpr const char* kDate = "23.08.2006";
constexpr int kRightMarginUnits = 327;

// A web address shown as one: link colour, underlined, a pointing hand above it.
void StyleAsLink(ClickableLabel& label) {
    QFont font = label.font();
    font.setUnderline(true);
    label.setFont(font);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Link));
    label.setPalette(palette);
    label.setCursor(Qt::PointingHandCursor);
}

// Places an address at its template position; a longer address grows to the left, so its
// right edge stays where the template puts it and the whole address stays readable.
void PlaceAddress(const DialogUnits& du, ClickableLabel& label, int x, int y, int width) {
    QRect rect = du.Rect(x, y, width, 8);
    const int needed = label.sizeHint().width();
    if (needed > rect.width()) {
        rect.setLeft(du.X(kRightMarginUnits) - needed);
    }
    label.setGeometry(rect);
    label.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

// The pictures are compiled into this static library; a program linking it registers them
// on first use, since nothing else would pull their object file in.
static void RegisterPictures() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(flashwright);
        return true;
    }();
    (void)registered;
}

QPixmap LogoPixmap() {
    RegisterPictures();
    return QPixmap(QStringLiteral(":/flashwright/logo.png"));
}

QIcon ProgramIcon() {
    RegisterPictures();
    return QIcon(QStringLiteral(":/flashwright/icon.png"));
}

C_Version::C_Version(UiServices& ui, QWidget* parent)
    : QWidget(parent),
      version_(new QLabel(this)),
      homePage_(new ClickableLabel(QString::fromLatin1(kHomePage), this)),
      documentation_(new ClickableLabel(QString::fromLatin1(kDocumentation), this)),
      picture_(new QLabel(this)) {
    setFont(DialogFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(332, 170));
    du.Place(*new QGroupBox(QStringLiteral("PC program"), this), 12, 12, 102, 48);
    du.Place(*version_, 24, 30, 84, 18);
    version_->setAlignment(Qt::AlignCenter);
    version_->setText(
        QStringLiteral("%1\n(%2)").arg(QLatin1String(kVersion), QLatin1String(kDate)));
    version_->raise();

    StyleAsLink(*homePage_);
    StyleAsLink(*documentation_);
    PlaceAddress(du, *homePage_, 258, 156, 69);
    PlaceAddress(du, *documentation_, 258, 146, 69);
    connect(homePage_, &ClickableLabel::clicked, this,
            [&ui] { ui.OpenUrl(QString::fromLatin1(kHomePage)); });
    connect(documentation_, &ClickableLabel::clicked, this,
            [&ui] { ui.OpenUrl(QString::fromLatin1(kDocumentation)); });

    du.Place(*picture_, 125, 19, 200, 37);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setPixmap(
        LogoPixmap().scaled(picture_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
