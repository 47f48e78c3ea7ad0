#include "EventExport.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
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

QString askExportFileName(QWidget* parent)
{
    QFileDialog dialog(parent,
                       QStringLiteral("Please select export file name with 'txt' or 'csv' extensions:"));
    dialog.setObjectName(QStringLiteral("exportDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const QStringList filters{QStringLiteral("Text (*.txt)"), QStringLiteral("CSV (*.csv)")};
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &filters](const QString& f) {
        dialog.setDefaultSuffix(f == filters[1] ? QStringLiteral("csv") : QStringLiteral("txt"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString fileName = dialog.selectedFiles().first();
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != QLatin1String("txt") && suffix != QLatin1String("csv"))
        fileName += QLatin1Char('.') + dialog.defaultSuffix();
    return fileName;
}

void warnExportFailed(QWidget* parent, const QString& fileName)
{
    QMessageBox::warning(parent, QStringLiteral("Brantwell"),
                         QStringLiteral("The events could not be written to %1.").arg(fileName));
}

} // namespace brantwell
