#include "pages/property_com_port.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cstdint>

#include "engine/device_types.h"
#include "update/serial_update.h"

namespace {

constexpr std::array<unsigned, 13> kBaudRates{110,   300,   1200,   2400,   4800,   9600,  19200,
                                              38400, 57600, 115200, 230400, 460800, 921600};
constexpr int kDefaultBaudIndex = 9;  // 115200

const QString kSelectPort = QStringLiteral(" - select port - ");

// What the port list shows for a port: on Windows its number, elsewhere its device path with
// the description the system gives.
QString PortItemText(const SerialPortEntry& port) {
#ifdef _WIN32
    return QStringLiteral("COM %1").arg(QString::fromStdString(port.name).mid(3).toInt());
#else
    const QString path = QString::fromStdString(port.name);
    if (port.description.empty()) {
        return path;
    }
    return path + QStringLiteral("  (") + QString::fromStdString(port.description) +
           QLatin1Char(')');
#endif
}

}  // namespace

CProperty_COM_port::CProperty_COM_port(PageContext& context, QWidget* parent,
                                       std::unique_ptr<SerialLink> link)
    : UpdatePage(context,
                 StepOneFrame{QStringLiteral("1. Select serial port for update"),
                              QRect(6, 12, 318, 42), 66},
                 parent),
      link_(link ? std::move(link) : MakeSerialLink(context.log, context.clock)),
      ports_(new QComboBox(this)),
      bauds_(new QComboBox(this)),
      deviceTypes_(new QComboBox(this)),
      search_(new QPushButton(QStringLiteral("Search new port"), this)) {
    const DialogUnits& du = Units();
    du.Place(*new QLabel(QStringLiteral("Serial port:"), this), 30, 26, 34, 8);
    du.Place(*ports_, 90, 24, 84, 12);
    du.Place(*new QLabel(QStringLiteral("Baud:"), this), 30, 38, 20, 8);
    du.Place(*bauds_, 90, 36, 84, 12);
    du.Place(*new QLabel(QStringLiteral("Device type:"), this), 198, 26, 41, 8);
    du.Place(*deviceTypes_, 246, 24, 72, 12);
    du.Place(*search_, 252, 38, 66, 12);
    MakePlainButton(*search_);

#ifndef _WIN32
    // Ports that enumeration does not list, such as pseudo-terminals, are typed by path.
    ports_->setEditable(true);
    ports_->setInsertPolicy(QComboBox::NoInsert);
    ports_->view()->setMinimumWidth(du.X(180));
#endif

    FillPortList();
    for (unsigned baud : kBaudRates) {
        bauds_->addItem(QString::number(baud), baud);
    }
    bauds_->setCurrentIndex(kDefaultBaudIndex);
    FillDeviceTypeList(*deviceTypes_, UpdateLink::Serial);

    connect(search_, &QPushButton::clicked, this, [this] { FillPortList(); });
    connect(ports_, &QComboBox::currentIndexChanged, this, [this] { CheckStepOne(); });
    connect(ports_, &QComboBox::editTextChanged, this, [this] { CheckStepOne(); });
    connect(bauds_, &QComboBox::currentIndexChanged, this, [this] { CheckStepOne(); });
    OrderTabStops();
}

CProperty_COM_port::~CProperty_COM_port() = default;

void CProperty_COM_port::FillPortList() {
    // Refilling leaves the file controls as they are; only a new selection checks step 1.
    const QSignalBlocker blocker(ports_);
    ports_->clear();
    ports_->addItem(kSelectPort, QString());
    std::vector<SerialPortEntry> present;
    link_->EnumeratePorts(present);
    for (const SerialPortEntry& port : present) {
        if (!port.name.empty()) {
            ports_->addItem(PortItemText(port), QString::fromStdString(port.name));
        }
    }
    ports_->setCurrentIndex(0);
}

std::string CProperty_COM_port::SelectedPort() const {
    const int index = ports_->currentIndex();
    if (index >= 0 && ports_->itemText(index) == ports_->currentText()) {
        return ports_->itemData(index).toString().toStdString();
    }
    return ports_->currentText().trimmed().toStdString();
}

void CProperty_COM_port::CheckStepOne() {
    SetStepOneDone(!SelectedPort().empty() && bauds_->currentData().toUInt() > 0);
}

std::vector<QWidget*> CProperty_COM_port::StepOneControls() {
    return {ports_, bauds_, deviceTypes_, search_};
}

void CProperty_COM_port::ProgramRun() {
    const std::string port = SelectedPort();
    const unsigned baud = bauds_->currentData().toUInt();
    if (port.empty() || baud < 1) {
        return;
    }

    PageObserver observer = Observer(window());
    observer.Report(UpdateOverSerial(
        *link_, port, baud, PickedDeviceType(*deviceTypes_, UpdateLink::Serial),
        PageFrontEnd(SyncRule::Kind::UntilCancel), observer, Context().log, Context().clock));
}
