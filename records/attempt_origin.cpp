#include "records/attempt_origin.h"

#include <QString>
#include <QSysInfo>

#include <cstdlib>
#include <filesystem>

std::string DefaultStationName() {
    return QSysInfo::machineHostName().toStdString();
}

std::string DefaultOperatorName() {
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

std::string RecordedFileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}
