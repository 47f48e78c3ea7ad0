// One cell of an exported table in the application (event list, reports):
// written as it is in a TAB-separated file, and quoted as RFC 4180 asks in
// a comma-separated one (the quoting itself lives in shared/CsvField).
#pragma once

#include <QChar>
#include <QString>

#include "CsvField.h"

namespace brantwell {

inline void appendExportField(QString& line, const QString& field, QChar separator)
{
    if (separator != QLatin1Char(',')) {
        line += field;
        return;
    }
    const QByteArray bytes = field.toUtf8();
    const std::string_view text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (csvNeedsQuotes(text))
        line += QString::fromStdString(csvField(text));
    else
        line += field;
}

} // namespace brantwell
