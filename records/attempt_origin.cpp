#include "records/attempt_origin.h"

#include <QString>
#include <QSysInfo>

#include <cstdlib>

std::string DefaultStationName() {
    return QSysInfo::machineHostName().toStdString();
}

std::string DefaultOperatorName() {
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}
