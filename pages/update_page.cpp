#include "pages/update_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <optional>

#include "engine/update_file.h"

namespace {

// Marks a run as under way and holds the page's controls disabled for it; puts back each
// control's own enabled state afterwards.
class RunScope {
  public:
    RunScope(bool& runInProgress, const std::vector<QWidget*>& controls)
        : runInProgress_(runInProgress) {
        runInProgress_ = true;
        for (QWidget* control : controls) {
            held_.push_back({control, !control->testAttribute(Qt::WA_ForceDisabled)});
            control->setEnabled(false);
        }
    }
    ~RunScope() {
        for (const Held& held : held_) {
            if (held.control != nullptr) {
                held.control->setEnabled(held.wasEnabled);
            }
        }
        runInProgress_ = false;
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

  private:
    struct Held {
        QPointer<QWidget> control;
        bool wasEnabled;
    };
    bool& runInProgress_;
    std::vector<Held> held_;
};

}  // namespace

void MakePlainButton(QPushButton& button) {
    button.setAutoDefault(false);
    button.setDefault(false);
}

void FillDeviceTypeList(QComboBox& list, UpdateLink link) {
    list.addItem(QStringLiteral("unknown"), QString());
    for (const DeviceType& type : DeviceTypes()) {
        if (type.link == link) {
            const QString name = QString::fromUtf8(type.name.data(), type.name.size());
            list.addItem(name, name);
        }
    }
    list.setCurrentIndex(0);
}

const DeviceType* PickedDeviceType(const QComboBox& list, UpdateLink link) {
    return FindDeviceType(link, list.currentData().toString().toStdString());
}

UpdatePage::UpdatePage(PageContext& context, const StepOneFrame& stepOne, QWidget* parent)
    : QWidget(parent),
      context_(context),
      units_(DialogFont()),
      stepOne_(new QGroupBox(stepOne.title, this)),
      stepTwo_(new QGroupBox(QStringLiteral("2. Select update file"), this)),
      stepThree_(new QGroupBox(QStringLiteral("3. Program update file"), this)),
      path_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("Browse"), this)),
      progress_(new QProgressBar(this)),
      program_(new QPushButton(QStringLiteral("Program"), this)),
      debug_(new QCheckBox(QStringLiteral("Debug"), this)),
      bootloaderVersion_(new QLabel(QStringLiteral("BootLoader version"), this)),
      deviceFound_(new QLabel(QStringLiteral("Device found"), this)) {
    setFont(DialogFont());
    setFixedSize(units_.Size(332, 170));
    const QRect one = stepOne.unitsRect;
    const int two = stepOne.stepTwoTop;
    units_.Place(*stepOne_, one.x(), one.y(), one.width(), one.height());
    units_.Place(*stepTwo_, 6, two, 318, 36);
    units_.Place(*path_, 18, two + 12, 252, 14);
    units_.Place(*browse_, 276, two + 13, 44, 12);
    units_.Place(*stepThree_, 6, 117, 318, 36);
    units_.Place(*progress_, 18, 129, 252, 14);
    units_.Place(*program_, 276, 130, 44, 12);
    units_.Place(*debug_, 1, 159, 37, 10);
    // A little inside the template's places, which end on the tab frame's edges.
    units_.Place(*bootloaderVersion_, 200, 151, 128, 8);
    units_.Place(*deviceFound_, 200, 159, 128, 8);

    // The group boxes are frames only; the controls lie above them, in creation order.
    stepOne_->lower();
    stepTwo_->lower();
    stepThree_->lower();
    MakePlainButton(*browse_);
    MakePlainButton(*program_);
    bootloaderVersion_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    deviceFound_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    progress_->setTextVisible(false);
    // Disabled only against input: it shows its position in the colours of an enabled bar.
    QPalette progressColours = progress_->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::Base, QPalette::Window}) {
        progressColours.setColor(QPalette::Disabled, role,
                                 progressColours.color(QPalette::Active, role));
    }
    progress_->setPalette(progressColours);
    debug_->setVisible(false);  // a service switch: never shown

    path_->setEnabled(false);
    browse_->setEnabled(false);
    progress_->setEnabled(false);  // shows its position, never takes input
    program_->setEnabled(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    bootloaderVersion_->clear();
    deviceFound_->clear();

    connect(browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(path_, &QLineEdit::textChanged, this, [this] { OnPathChanged(); });
    connect(program_, &QPushButton::clicked, this, [this] { OnButton_Program(); });
    connect(debug_, &QCheckBox::clicked, this,
            [this](bool checked) { context_.debug.setAll(checked); });
}

UpdatePage::~UpdatePage() = default;

void UpdatePage::OnButton_Program() {
    if (context_.runInProgress) {
        return;
    }
    std::vector<QWidget*> held = StepOneControls();
    held.insert(held.end(), {path_, browse_, program_});
    for (const QPointer<QWidget>& shared : context_.heldDuringRuns) {
        if (shared != nullptr) {
            held.push_back(shared);
        }
    }
    {
        RunScope scope(context_.runInProgress, held);
        ProgramRun();
    }
    if (stepOneDoneAfterRun_) {
        SetStepOneDone(*stepOneDoneAfterRun_);
        stepOneDoneAfterRun_.reset();
    }
}

void UpdatePage::OrderTabStops() {
    // Steps 2 and 3 move behind the last control of step 1: Tab then runs step 1, step 2,
    // step 3 and on to the tab bar.
    const std::vector<QWidget*> stepOne = StepOneControls();
    if (stepOne.empty()) {
        return;
    }
    QWidget::setTabOrder(stepOne.back(), path_);
    QWidget::setTabOrder(path_, browse_);
    QWidget::setTabOrder(browse_, program_);
}

void UpdatePage::SetStepOneDone(bool done) {
    if (context_.runInProgress) {
        stepOneDoneAfterRun_ = done;  // the run holds the controls until it ends
        return;
    }
    path_->setEnabled(done);
    browse_->setEnabled(done);
}

PageObserver UpdatePage::Observer(QWidget* stateOwner) {
    return PageObserver({context_.ui, *this, *progress_, *bootloaderVersion_, *deviceFound_},
                        stateOwner);
}

FrontEnd UpdatePage::PageFrontEnd(SyncRule::Kind sync) const {
    return FrontEnd{.sync = {sync, 0},
                    .logName = "OnButton_Program()",
                    .logsSteps = true,
                    .asksBeforeReplug = true,
                    .closesAfterBadFile = false,
                    .path = PathText()};
}

void UpdatePage::ShowMessage(const std::string& text) {
    context_.ui.ShowMessage(this, MessageBoxRequest{QString::fromStdString(text)});
}

void UpdatePage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    debug_->setChecked(context_.debug.isOn && context_.debug.isOn());
}

void UpdatePage::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape belong to dialogs that close; a page never closes itself.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void UpdatePage::OnBrowse() {
    const QString chosen = context_.ui.ChooseFileToOpen(
        this, FileOpenRequest{QStringLiteral("Encrypted Update (*.enc)"), QStringLiteral("*.enc"),
                              QStringLiteral("enc")});
    if (chosen.isEmpty()) {
        return;
    }
    path_->setText(chosen);
    program_->setEnabled(true);
}

void UpdatePage::OnPathChanged() {
    progress_->setValue(0);
    const std::optional<long long> length = UpdateFileLength(PathText());
    program_->setEnabled(length && *length > 0);
}

std::string UpdatePage::PathText() const {
    return QFile::encodeName(path_->text()).toStdString();
}
