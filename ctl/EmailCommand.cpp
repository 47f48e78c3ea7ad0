// email: have the daemon send one e-mail.
#include "Ctl.h"

namespace brantwell::ctl {

int email(const std::vector<std::string>& args)
{
    std::vector<std::string> to;
    std::string subject, body;
    bool haveSubject = false, haveBody = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return usage("missing value for " + args[i]);
        if (args[i] == "--to")
            to.push_back(args[++i]);
        else if (args[i] == "--subject")
            subject = args[++i], haveSubject = true;
        else if (args[i] == "--body")
            body = args[++i], haveBody = true;
        else
            return usage("unknown email option " + args[i]);
    }
    if (to.empty())
        return usage("email needs at least one --to");
    if (!haveSubject || !haveBody)
        return usage("email needs --subject and --body");
    // Answered when the SMTP dialogue has ended; each server reply may take
    // the configured minutes.
    return sendCommand({{"command", "email"}, {"Recipients", to}, {"Subject", subject}, {"Body", body}, {"Html", false}},
                       std::chrono::hours(1));
}

} // namespace brantwell::ctl
