#include "SmtpPeers.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brantwell::test {

namespace {

constexpr const char* kServerScript = R"PY(
import asyncio, email, email.policy, json, logging, ssl, sys, warnings
warnings.simplefilter("ignore")
logging.disable(logging.CRITICAL)
from aiosmtpd.smtp import SMTP, AuthResult

mode, certfile, keyfile, out, exclude, refuse, rcpt_reply = sys.argv[1:8]

class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        envelope.rcpt_tos.append(address)
        return rcpt_reply
    async def handle_DATA(self, server, session, envelope):
        # What a mail reader shows: the subject unfolded and decoded, the
        # body decoded by its charset and transfer encoding.
        parsed = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        record = {"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                  "subject": str(parsed["subject"]), "body": parsed.get_content(),
                  "defects": [type(d).__name__ for d in parsed.defects],
                  "data": envelope.original_content.decode("latin-1"),
                  "auth": session.auth_data if isinstance(session.auth_data, dict) else None,
                  "ehlo": session.host_name,
                  "tls": session.ssl is not None
                         or server.transport.get_extra_info("sslcontext") is not None}
        with open(out, "a") as f:
            f.write(json.dumps(record) + "\n")
        return "250 OK"

def authenticator(server, session, envelope, mechanism, auth_data):
    if refuse == "refuse":
        return AuthResult(success=False, handled=False)
    return AuthResult(success=True, handled=False,
                      auth_data={"mechanism": mechanism, "login": auth_data.login.decode(),
                                 "password": auth_data.password.decode()})

async def main():
    ctx = None
    if mode != "plain":
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(certfile, keyfile)
    kw = dict(authenticator=authenticator, decode_data=False, hostname="test.smtp",
              auth_require_tls=(mode == "starttls"))
    if exclude:
        kw["auth_exclude_mechanism"] = [exclude]
    if mode == "starttls":
        kw["tls_context"] = ctx
        kw["require_starttls"] = True
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(Handler(), **kw), "127.0.0.1", 0,
                                      ssl=ctx if mode == "implicit" else None)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()

asyncio.run(main())
)PY";

std::atomic<int> serverCount{0};

int run(const std::string& command)
{
    return std::system(command.c_str());
}

// A TCP socket listening on 127.0.0.1 at a port the kernel picks.
int listenOnLoopback(int backlog, unsigned& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(fd, backlog);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port = ntohs(sa.sin_port);
    return fd;
}

} // namespace

TestCertificate::TestCertificate(const TempDir& dir)
    : certFile(dir.file("cert.pem")), keyFile(dir.file("key.pem"))
{
    run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
        " -addext subjectAltName=DNS:localhost -keyout '" + keyFile + "' -out '" + certFile + "' 2>/dev/null");
}

AiosmtpdServer::AiosmtpdServer(const TempDir& dir, Mode mode, const TestCertificate* cert, const std::string& exclude,
                               bool refuseAuth, const std::string& rcptReply)
    : out_(dir.file("received-" + std::to_string(++serverCount) + ".jsonl"))
{
    const std::string script = dir.file("smtp_server.py");
    writeFile(script, kServerScript);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    const char* modeText = mode == Mode::Plain ? "plain" : mode == Mode::StartTls ? "starttls" : "implicit";
    const std::string certFile = cert ? cert->certFile : "", keyFile = cert ? cert->keyFile : "";
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        // The Debian package belongs to the system interpreter, not to
        // whichever python3 comes first on PATH.
        execl("/usr/bin/python3", "python3", script.c_str(), modeText, certFile.c_str(), keyFile.c_str(),
              out_.c_str(), exclude.c_str(), refuseAuth ? "refuse" : "accept", rcptReply.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string text;
    char buf[256];
    pollfd p{pipeFds[0], POLLIN, 0};
    while (text.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1) {
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    if (text.rfind("PORT ", 0) == 0)
        port_ = static_cast<unsigned>(std::stoul(text.substr(5)));
}

AiosmtpdServer::~AiosmtpdServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::vector<nlohmann::json> AiosmtpdServer::messages() const
{
    std::vector<nlohmann::json> out;
    std::istringstream in(readFile(out_));
    std::string line;
    while (std::getline(in, line))
        out.push_back(nlohmann::json::parse(line, nullptr, false));
    return out;
}

SilentSmtpServer::SilentSmtpServer() : listenFd_(listenOnLoopback(64, port_))
{
    thread_ = std::thread([this] {
        std::vector<int> held;
        while (!stop_) {
            pollfd p{listenFd_, POLLIN, 0};
            if (poll(&p, 1, 50) != 1)
                continue;
            const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            static constexpr char kGreeting[] = "220 silent ESMTP\r\n";
            (void)!send(fd, kGreeting, sizeof kGreeting - 1, MSG_NOSIGNAL);
            held.push_back(fd);
            ++connections_;
        }
        for (const int fd : held)
            close(fd);
    });
}

SilentSmtpServer::~SilentSmtpServer()
{
    stop_ = true;
    thread_.join();
    close(listenFd_);
}

ScriptedSmtpServer::ScriptedSmtpServer() : listenFd_(listenOnLoopback(8, port_)) {}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    close(listenFd_);
}

void ScriptedSmtpServer::start()
{
    thread_ = std::thread([this] { serve(); });
}

std::vector<std::string> ScriptedSmtpServer::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string ScriptedSmtpServer::data() const
{
    std::lock_guard lock(mutex_);
    return data_;
}

std::string ScriptedSmtpServer::replyTo(const std::string& line, int& authStep)
{
    const std::string verb = line.substr(0, line.find_first_of(" :"));
    if (authStep == 1) {
        authStep = 2;
        return "334 UGFzc3dvcmQ6";
    }
    if (authStep == 2) {
        authStep = 0;
        return "235 authenticated";
    }
    if (verb == "EHLO")
        return ehloReply;
    if (line == "AUTH LOGIN") {
        authStep = 1;
        return "334 VXNlcm5hbWU6";
    }
    if (line.rfind("AUTH PLAIN ", 0) == 0)
        return "235 authenticated";
    if (verb == "MAIL")
        return "250 sender ok";
    if (verb == "RCPT") {
        const auto open = line.find('<'), close = line.rfind('>');
        const std::string address = line.substr(open + 1, close - open - 1);
        return refusedRecipients.count(address) ? "550 no such user" : "250 recipient ok";
    }
    if (verb == "DATA")
        return "354 go ahead";
    if (verb == "QUIT")
        return "221 bye";
    return "502 not implemented";
}

void ScriptedSmtpServer::serve()
{
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 100) != 1)
            continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        const auto reply = [fd](const std::string& text) {
            const std::string out = text + "\r\n";
            (void)!send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        };
        if (!greeting.empty())
            reply(greeting);
        std::string input;
        bool inData = false, done = false;
        int authStep = 0;
        std::string data;
        while (!stop_ && !done) {
            pollfd c{fd, POLLIN, 0};
            if (poll(&c, 1, 100) != 1)
                continue;
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            input.append(buf, static_cast<std::size_t>(n));
            std::size_t end;
            while (!done && (end = input.find("\r\n")) != std::string::npos) {
                std::string line = input.substr(0, end);
                input.erase(0, end + 2);
                if (inData) {
                    if (line == ".") {
                        inData = false;
                        std::lock_guard lock(mutex_);
                        data_ = data;
                        lines_.push_back("<data>");
                        reply(finalReply);
                        continue;
                    }
                    if (!line.empty() && line[0] == '.')
                        line.erase(0, 1);
                    data += line + "\r\n";
                    continue;
                }
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                const std::string r = replyTo(line, authStep);
                reply(r);
                if (r.rfind("354", 0) == 0)
                    inData = true;
                if (r.rfind("221", 0) == 0)
                    done = true;
            }
        }
        close(fd);
    }
}

} // namespace brantwell::test
