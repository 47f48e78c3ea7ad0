// Brantwell: the desktop application of the Brantwell syslog server.
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QIcon>

#include "SettingsKeys.h"
#include "events/DaemonLink.h"
#include "shell/WindowController.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brantwell"));
    QApplication::setApplicationVersion(QStringLiteral(BRANTWELL_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Corvanta"));
    // Ties the windows to the menu entry and its icon (the hicolor theme
    // holds it once the package is installed).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.corvanta.Brantwell"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.corvanta.Brantwell")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Views and steers the Brantwell syslog server."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Directory of the event log files and settings (default: the one the "
                                                    "running daemon reports, else /var/lib/brantwell)."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("UDP port of the local service for the test message."),
                                  QStringLiteral("N"), QStringLiteral("514"));
    parser.addOption(dataDir);
    parser.addOption(port);
    parser.process(app);

    brantwell::StartOptions options;
    // Without --data-dir the files are where the running daemon keeps them;
    // the default only when no daemon answers.
    if (parser.isSet(dataDir)) {
        options.dataDir = parser.value(dataDir).toStdString();
    } else if (const QString reported = brantwell::askDaemonDataDirectory(QDBusConnection::systemBus());
               !reported.isEmpty()) {
        options.dataDir = reported.toStdString();
    } else {
        options.dataDir = std::string(brantwell::kDefaultDataDirectory);
    }
    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber == 0 || portNumber > 65535) {
        qCritical("Brantwell: --port needs a number from 1 to 65535");
        return 2;
    }
    options.syslogPort = static_cast<std::uint16_t>(portNumber);

    brantwell::WindowController window(options, QDBusConnection::systemBus());
    window.show();
    return app.exec();
}
