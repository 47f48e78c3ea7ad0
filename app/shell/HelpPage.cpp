#include "HelpPage.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include "common/SeverityImages.h"

namespace brantwell {

QString helpFilePath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
                        + QStringLiteral("/help-") + QStringLiteral(BRANTWELL_VERSION);
    const QString path = dir + QStringLiteral("/index.html");
    ensureResources();
    QFile source(QStringLiteral(":/help/index.html"));
    if (!QDir().mkpath(dir) || !source.open(QIODevice::ReadOnly))
        return {};
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly) || target.write(source.readAll()) < 0) {
        target.remove();
        return {};
    }
    return path;
}

bool openHelp()
{
    const QString path = helpFilePath();
    return !path.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace brantwell
