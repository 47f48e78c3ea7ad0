#include "MailFormat.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace brantwell {
namespace {

TEST(Base64, EncodesTheTestVectorsAndTheSaslPlainCredential)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {std::string("u\0u\0p", 5), "dQB1AHA="},
        {"\xff\xfe\xfd", "//79"}, {"user@example.com", "dXNlckBleGFtcGxlLmNvbQ=="}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(base64(in), out);
}

TEST(MailDate, IsWrittenInRfc5322FormWithTheZone)
{
    // The tests run with TZ=Europe/Berlin.
    EXPECT_EQ(rfc5322Date(1796706303), "Tue, 8 Dec 2026 06:05:03 +0100");
    EXPECT_EQ(rfc5322Date(1782943149), "Wed, 1 Jul 2026 23:59:09 +0200");
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    EXPECT_EQ(rfc5322Date(1767335645), "Fri, 2 Jan 2026 03:04:05 -0330");
    setenv("TZ", saved.c_str(), 1);
    tzset();
}

TEST(DotStuffing, DoublesEveryLeadingDotAndNothingElse)
{
    const std::pair<const char*, const char*> cases[] = {
        {"line\r\n.\r\nrest", "line\r\n..\r\nrest"},
        {".first", "..first"},
        {"a.b\r\n..x\n.y", "a.b\r\n...x\n..y"},
        {"no dots", "no dots"},
        {"", ""},
        {"end.\r\n", "end.\r\n"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(dotStuffed(in), out) << in;
}

TEST(MailHeader, HasTheFixedFieldsInOrder)
{
    MailHeader h{"daemon@example.com", {"a@example.com", "b@example.com"}, "Brantwell - Test message", false};
    EXPECT_EQ(formatHeader(h, 1796706303),
              "Date: Tue, 8 Dec 2026 06:05:03 +0100\r\n"
              "From: <daemon@example.com>\r\n"
              "To: <a@example.com>,<b@example.com>\r\n"
              "Subject: Brantwell - Test message\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=\"US-ASCII\"\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n");
    h.bHtml = true;
    h.subject = "";
    const std::string html = formatHeader(h, 1796706303);
    EXPECT_NE(html.find("\r\nSubject:  \r\n"), std::string::npos);
    EXPECT_NE(html.find("\r\nContent-Type: text/html; charset=\"US-ASCII\"\r\n"), std::string::npos);
    h.subject = "forged\r\nBcc: victim@example.com";
    EXPECT_NE(formatHeader(h, 0).find("\r\nSubject: forged  Bcc: victim@example.com\r\n"), std::string::npos);
}

} // namespace
} // namespace brantwell
