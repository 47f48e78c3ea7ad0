// The text of an exported event list: the column titles, then one line per
// row with the text of each cell, joined by a tab ("txt") or a comma
// ("csv"). Nothing is quoted, as the files have always been written.
#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

namespace brantwell {

// The separator of an export file by its extension: a comma for ".csv",
// a tab otherwise.
QChar exportSeparatorFor(const QString& fileName);

// `rows` are rows of `model` in the order to write.
QString exportText(const QAbstractItemModel& model, const QList<int>& rows, QChar separator);

// Writes `text` as UTF-8, replacing the file whole; false on failure.
bool writeExportFile(const QString& fileName, const QString& text);

} // namespace brantwell
