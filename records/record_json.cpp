#include "records/record_json.h"

#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "log/text_format.h"
#include "records/record_csv.h"

namespace {

// The JSON value of a field: numbers as numbers, an empty optional field as null. A stored
// result code that is not a number stays the text it is.
QJsonValue JsonField(std::string_view name, const std::string& text) {
    static constexpr std::array<std::string_view, 6> kNumbers{
        "id", "device_id", "file_size", "frames_sent", "retries", "result_code"};
    if (std::find(kNumbers.begin(), kNumbers.end(), name) != kNumbers.end()) {
        if (text.empty()) {
            return QJsonValue();
        }
        if (IsWholeNumber(text)) {
            return QJsonValue(static_cast<qint64>(std::stoll(text)));
        }
    }
    if (name == "ended_utc" && text.empty()) {
        return QJsonValue();
    }
    return QString::fromStdString(text);
}

}  // namespace

QJsonObject RecordJsonObject(std::int64_t id, const AttemptRecord& record) {
    const std::vector<std::string> header = RecordHeader();
    const std::vector<std::string> fields = RecordFields(id, record);
    QJsonObject object;
    for (std::size_t i = 0; i < header.size(); ++i) {
        object.insert(QString::fromStdString(header[i]), JsonField(header[i], fields[i]));
    }
    return object;
}

std::string CompactJson(const QJsonObject& object) {
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::string text;
    text.reserve(static_cast<std::size_t>(json.size()));
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        // Qt writes valid UTF-8: a C1 control is 0xC2 followed by 0x80..0x9F.
        const bool c1 =
            byte == 0xC2 && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) <= 0x9F;
        if (byte == 0x7F || c1) {
            text +=
                StrPrintf("\\u%04x",
                          static_cast<unsigned>(c1 ? static_cast<unsigned char>(json[++i]) : byte));
        } else {
            text += json[i];
        }
    }
    return text;
}

std::string RecordJson(std::int64_t id, const AttemptRecord& record) {
    return CompactJson(RecordJsonObject(id, record));
}
