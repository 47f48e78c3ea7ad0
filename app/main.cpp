// Brantwell: the desktop application of the Brantwell syslog server.
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>

#include "shell/WindowController.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brantwell"));
    QApplication::setApplicationVersion(QStringLiteral(BRANTWELL_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Corvanta"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Views and steers the Brantwell syslog server."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Directory of the event log files and settings."),
                                     QStringLiteral("DIR"), QStringLiteral("/Library/Brantwell"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("UDP port of the local service for the test message."),
                                  QStringLiteral("N"), QStringLiteral("514"));
    parser.addOption(dataDir);
    parser.addOption(port);
    parser.process(app);

    brantwell::StartOptions options;
    options.dataDir = parser.value(dataDir).toStdString();
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
