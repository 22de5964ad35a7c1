#include "records/records_layout.h"

#include "records/record_schema.h"

namespace {

QString Sql(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string_view TypeName(const SqlDialect& dialect, SqlType type) {
    switch (type) {
        case SqlType::Integer:
            return dialect.integer;
        case SqlType::BigInteger:
            return dialect.bigInteger;
        case SqlType::Text:
            break;
    }
    return dialect.text;
}

QString Definition(const SqlDialect& dialect, const LayoutColumn& column) {
    QString definition = Sql(column.name) + ' ' + Sql(TypeName(dialect, column.type));
    if (!column.constraint.empty()) {
        definition += ' ' + Sql(column.constraint);
    }
    return definition;
}

QString CreateIndex(const LayoutIndex& index) {
    QString statement = QStringLiteral("CREATE %1INDEX %2 ON attempts (%3)")
                            .arg(index.unique ? QStringLiteral("UNIQUE ") : QString(),
                                 Sql(index.name), Sql(index.column));
    if (!index.where.empty()) {
        statement += QStringLiteral(" WHERE ") + Sql(index.where);
    }
    return statement;
}

}  // namespace

namespace record_fields {

QVariant EndedUtc(const AttemptRecord& record) {
    return record.endedUtc.empty() ? QVariant() : Text<&AttemptRecord::endedUtc>(record);
}

QVariant State(const AttemptRecord& record) {
    return QString::fromStdString(std::string(StateText(record.state)));
}

void TakeState(AttemptRecord& record, const QVariant& value) {
    const std::string state = value.toString().toStdString();
    record.state = state == "running"    ? AttemptState::Running
                   : state == "finished" ? AttemptState::Finished
                                         : AttemptState::Interrupted;
}

QVariant FileSize(const AttemptRecord& record) {
    return QVariant::fromValue<qlonglong>(record.fileSize);
}

void TakeFileSize(AttemptRecord& record, const QVariant& value) {
    record.fileSize = value.toLongLong();
}

}  // namespace record_fields

bool CreateLayout(QSqlQuery& query, const SqlDialect& dialect,
                  std::span<const LayoutColumn> leading, int version) {
    QStringList columns{QStringLiteral("id ") + Sql(dialect.rowNumber)};
    for (const LayoutColumn& column : leading) {
        columns << Definition(dialect, column);
    }
    for (const RecordColumn& column : kRecordLayout) {
        if (column.since <= version) {
            columns << Definition(dialect, column);
        }
    }
    return query.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)")) &&
           query.exec(QStringLiteral("INSERT INTO schema_version VALUES (%1)").arg(version)) &&
           query.exec(QStringLiteral("CREATE TABLE attempts (%1)")
                          .arg(columns.join(QStringLiteral(", ")))) &&
           query.exec(CreateIndex(kStartedIndex));
}

bool AddLayoutStep(QSqlQuery& query, const SqlDialect& dialect, const LayoutStep& step) {
    for (const LayoutColumn& column : step.columns) {
        if (!query.exec(QStringLiteral("ALTER TABLE attempts ADD COLUMN ") +
                        Definition(dialect, column))) {
            return false;
        }
    }
    if (step.fill != nullptr && !step.fill(query)) {
        return false;
    }
    for (const LayoutIndex& index : step.indexes) {
        if (!query.exec(CreateIndex(index))) {
            return false;
        }
    }
    return query.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(step.version));
}

QString RecordColumnList(int version) {
    QStringList names;
    for (const RecordColumn& column : kRecordLayout) {
        names << (column.since <= version ? Sql(column.name)
                                          : QStringLiteral("NULL AS ") + Sql(column.name));
    }
    return names.join(QStringLiteral(", "));
}

StoreError LaterLayout(const std::string& shown, int found, int known) {
    if (found <= known) {
        return {};
    }
    return {StoreStatus::NewerSchema,
            shown + " was written by a later version of flashwright (records layout " +
                std::to_string(found) + "; this version knows layout " + std::to_string(known) +
                ")"};
}

StoreError NotRecords(const std::string& shown) {
    return {StoreStatus::Corrupt, shown + " is not a records database"};
}
