#include "EventExport.h"

#include <QFileInfo>
#include <QSaveFile>

#include "common/ExportField.h"

namespace brantwell {

QChar exportSeparatorFor(const QString& fileName)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
               ? QLatin1Char(',')
               : QLatin1Char('\t');
}

QString exportText(const QAbstractItemModel& model, const QList<int>& rows, QChar separator)
{
    QString text;
    const int columns = model.columnCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0)
            text += separator;
        appendExportField(text, model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), separator);
    }
    text += QLatin1Char('\n');
    for (const int row : rows) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                text += separator;
            appendExportField(text, model.data(model.index(row, c), Qt::DisplayRole).toString(), separator);
        }
        text += QLatin1Char('\n');
    }
    return text;
}

bool writeExportFile(const QString& fileName, const QString& text)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

} // namespace brantwell
