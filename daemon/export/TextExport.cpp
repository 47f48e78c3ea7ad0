#include "TextExport.h"

#include "util/AtomicFileWriter.h"
#include "CsvField.h"
#include "DateFormat.h"
#include "EventRecord.h"
#include "store/EventStore.h"
#include "util/FileUtil.h"
#include "store/StoredEvents.h"

namespace brantwell {

std::optional<char> textExportSeparator(std::string_view path)
{
    const auto slash = path.rfind('/');
    const auto name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    const auto extension = name.substr(dot + 1);
    if (extension == "txt")
        return '\t';
    if (extension == "csv")
        return ',';
    return std::nullopt;
}

TextExportResult exportText(const EventStore& store, const std::string& path, char separator,
                            const DateFormatter& dates)
{
    TextExportResult result;
    AtomicFileWriter out(path, kDataFileMode);
    const char sep[2] = {separator, '\0'};
    std::string line = std::string("Date") + sep + "Priority" + sep + "Host" + sep + "Message\n";
    out.write(line);

    // Events of one second follow each other; format each second once.
    std::string lastDate, lastShown;
    forEachStoreFile(store, [&](const std::string&, std::string& contents) {
        forEachLine(contents, [&](std::string_view stored) {
            const auto event = splitEventLine(stored);
            if (!event)
                return;
            if (event->date != lastDate || lastShown.empty()) {
                lastDate = event->date;
                lastShown = dates.format(eventDateSeconds(event->date));
            }
            line.clear();
            const std::string_view fields[] = {lastShown, event->priority, event->host, event->message};
            for (const auto field : fields) {
                if (!line.empty())
                    line += separator;
                if (separator == ',')
                    appendCsvField(line, field);
                else
                    line.append(field);
            }
            line += '\n';
            out.write(line);
            ++result.events;
        });
    });
    result.ok = out.commit();
    result.error = out.error();
    return result;
}

} // namespace brantwell
