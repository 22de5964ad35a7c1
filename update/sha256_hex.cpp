#include "update/sha256_hex.h"

#include <QCryptographicHash>

std::string Sha256Hex(std::string_view bytes) {
    return QCryptographicHash::hash(
               QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}
