// brantwellctl --help.
#include <cstdio>

#include "Ctl.h"

namespace brantwell::ctl {

void printHelp()
{
    std::printf(
        "Usage: brantwellctl [OPTIONS] COMMAND [ARGUMENTS]\n"
        "\n"
        "Steers the BrantwellSrv syslog daemon over the system bus\n"
        "(DBUS_SYSTEM_BUS_ADDRESS chooses another bus). Only root and members of\n"
        "group brantwell may use the commands that talk to the daemon.\n"
        "\n"
        "Commands:\n"
        "  status             whether the daemon runs and answers, its version, port,\n"
        "                     what its exports and mail last failed at, data\n"
        "                     directory, stored events and counters\n"
        "  save [--merge] FILE\n"
        "                     send the settings dictionary in FILE (a JSON object);\n"
        "                     the daemon replaces the whole settings file with it\n"
        "                     and runs exactly that. --merge has the daemon lay\n"
        "                     FILE's keys over its settings file as it is then and\n"
        "                     keep the others, another writer's too\n"
        "  get                print the settings file\n"
        "  email --to ADDRESS [--to ADDRESS...] --subject TEXT --body TEXT\n"
        "                     have the daemon send one e-mail; prints Received once\n"
        "                     the mail server has accepted it, otherwise the step\n"
        "                     that failed and the server's reply (exit status 1)\n"
        "  delete LINE...     delete stored events; LINE is a whole stored line\n"
        "                     without its line feed; give a line twice to delete two\n"
        "                     copies\n"
        "  watch              print every announced event as it arrives:\n"
        "                     TYPE DATE,PRIORITY,HOST,MESSAGE, or \"Dropped COUNT\"\n"
        "                     when the daemon had to leave COUNT events out;\n"
        "                     follows the daemon across restarts\n"
        "  stats              print the daemon's counters\n"
        "  test-message       send \"<191>Brantwell - Test message\" to the local daemon\n"
        "\n"
        "Options:\n"
        "  --data-dir DIR     the daemon's data directory, for get and status\n"
        "                     (default: the one the daemon reports, else\n"
        "                     /var/lib/brantwell)\n"
        "  --port N           the daemon's UDP port, for test-message (default 514)\n"
        "  --help             show this text\n"
        "\n"
        "Exit status: 0 done, 1 daemon not reachable or command failed, 2 usage error,\n"
        "3 refused by the daemon (not root, not in group brantwell), 4 command rejected.\n");
}

} // namespace brantwell::ctl
