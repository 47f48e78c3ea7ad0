// The text of an exported event list: the column titles, then one line per
// row with the text of each cell, joined by a tab ("txt") or a comma
// ("csv"). In a CSV file a cell holding a comma, a double quote or a line
// break is quoted (the default date "12/8/26, 11:03:14 AM" does), so every
// row has the header's columns; a TAB file is written as it is.
#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

class QWidget;

namespace brantwell {

// The separator of an export file by its extension: a comma for ".csv",
// a tab otherwise.
QChar exportSeparatorFor(const QString& fileName);

// `rows` are rows of `model` in the order to write.
QString exportText(const QAbstractItemModel& model, const QList<int>& rows, QChar separator);

// Writes `text` as UTF-8, replacing the file whole; false on failure.
bool writeExportFile(const QString& fileName, const QString& text);

// The save dialog of every export, for "txt" and "csv" files: the chosen
// name, given the extension of the chosen type when it has neither; empty
// when the user cancels.
QString askExportFileName(QWidget* parent);

// Tells the user that `fileName` could not be written.
void warnExportFailed(QWidget* parent, const QString& fileName);

} // namespace brantwell
