#pragma once

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "engine/device_types.h"
#include "pages/dialog_units.h"
#include "pages/page_context.h"
#include "pages/page_observer.h"
#include "pages/ui_services.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// Where a page puts its step-1 group; steps 2 and 3 follow below it.
struct StepOneFrame {
    QString title;
    QRect unitsRect;  // in dialog units
    int stepTwoTop;   // dialog units: 66 under a short step 1, 76 under a device list
};

// The step-1 frame of the USB pages: a device list, with steps 2 and 3 further down.
inline StepOneFrame DeviceListFrame() {
    return StepOneFrame{QStringLiteral("1. Select device for update"), QRect(6, 6, 318, 66), 76};
}

// Fills a page's device type list: "unknown" (a device the user restarts by hand), then every
// device type of the link, "unknown" picked.
void FillDeviceTypeList(QComboBox& list, UpdateLink link);
// The device type picked in such a list; none for "unknown".
const DeviceType* PickedDeviceType(const QComboBox& list, UpdateLink link);

// What the four link pages share: the three numbered steps (select the target, select the
// update file, program it), the status labels, the hidden "Debug" box, the file check and
// the outline of a programming run. A page adds its step-1 controls and its run.
class UpdatePage : public QWidget {
  public:
    UpdatePage(PageContext& context, const StepOneFrame& stepOne, QWidget* parent);
    ~UpdatePage() override;

    // The "Program" button's handler. Does nothing while a run is under way anywhere in the
    // program: a click dispatched during a run's waits must not start a second one.
    void OnButton_Program();

    QLineEdit& PathEdit() { return *path_; }
    QPushButton& BrowseButton() { return *browse_; }
    QPushButton& ProgramButton() { return *program_; }
    QProgressBar& Progress() { return *progress_; }
    QCheckBox& DebugBox() { return *debug_; }
    QLabel& BootloaderVersionLabel() { return *bootloaderVersion_; }
    QLabel& DeviceFoundLabel() { return *deviceFound_; }

  protected:
    // The page's own run; only called while no other run is under way.
    virtual void ProgramRun() = 0;
    // The page's step-1 controls, held disabled while a run is under way.
    virtual std::vector<QWidget*> StepOneControls() = 0;

    // The step-1 selection became valid or invalid: enables or disables the file controls.
    void SetStepOneDone(bool done);
    // Each page calls this once its step-1 controls exist: they were made after steps 2 and
    // 3, so Tab would leave step 1 for the tab bar before reaching step 2.
    void OrderTabStops();
    // What the page shows and answers during its run; the state message is owned by
    // `stateOwner` (none: a dialog of its own).
    PageObserver Observer(QWidget* stateOwner);
    // How the pages run an update: synchronising as `sync` says, logging their steps, asking
    // before the replug guidance, the update file from step 2.
    FrontEnd PageFrontEnd(SyncRule::Kind sync) const;
    // The application's message box with only an OK button.
    void ShowMessage(const std::string& text);

    PageContext& Context() { return context_; }
    const DialogUnits& Units() const { return units_; }

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnBrowse();
    void OnPathChanged();
    std::string PathText() const;

    PageContext& context_;
    DialogUnits units_;
    QGroupBox* stepOne_;
    QGroupBox* stepTwo_;
    QGroupBox* stepThree_;
    QLineEdit* path_;
    QPushButton* browse_;
    QProgressBar* progress_;
    QPushButton* program_;
    QCheckBox* debug_;
    QLabel* bootloaderVersion_;
    QLabel* deviceFound_;
    // Whether step 1 is done, as found during a run; applied once the run lets go of the
    // controls.
    std::optional<bool> stepOneDoneAfterRun_;
};

// Turns a push button into one that Enter does not press: the pages ignore Enter.
void MakePlainButton(QPushButton& button);
