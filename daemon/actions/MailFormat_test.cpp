#include "MailFormat.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "testkit/TestPeers.h"

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

std::string words(std::size_t length, std::string_view separator)
{
    std::string text;
    for (int i = 0; text.size() < length; ++i)
        text += "w" + std::to_string(i) + std::string(separator);
    text.resize(length);
    return text;
}

TEST(MailSubject, FoldsLongTextAtItsSpacesAndUnfoldsToTheSameText)
{
    const std::string cases[] = {"short", words(200, " "), words(2000, " "), words(500, "   "), " leading",
                                 std::string(60, 'x') + " " + std::string(70, 'y')};
    for (const auto& subject : cases) {
        const std::string field = subjectField(subject);
        SCOPED_TRACE(field.substr(0, 100));
        ASSERT_TRUE(field.ends_with("\r\n"));
        for (const auto& line : test::crlfLines(field)) {
            EXPECT_LE(line.size(), 78u);
            EXPECT_NE(line.find_first_not_of(' '), std::string::npos) << "a line of blanks only";
        }
        std::string unfolded = field.substr(0, field.size() - 2);
        for (std::size_t at; (at = unfolded.find("\r\n")) != std::string::npos;)
            unfolded.erase(at, 2);
        EXPECT_EQ(unfolded, "Subject: " + subject);
    }
}

TEST(MailSubject, SendsEightBitTextAndOverlongWordsAsEncodedWords)
{
    const std::string cases[] = {std::string(2000, 'x'), "10:00\u202FAM St\u00f6rung", std::string(300, '\xe2')};
    for (const auto& subject : cases) {
        const std::string field = subjectField(subject);
        SCOPED_TRACE(field.substr(0, 100));
        EXPECT_EQ(field.rfind("Subject: =?UTF-8?B?", 0), 0u);
        for (const auto& line : test::crlfLines(field))
            EXPECT_LE(line.size(), 76u);
        EXPECT_TRUE(std::all_of(field.begin(), field.end(), [](char c) { return (c & 0x80) == 0; }));
    }
}

TEST(MailBody, IsSentAsGivenWhileItIsShortSevenBitText)
{
    struct Case {
        std::string body;
        bool utf8, quotedPrintable;
    };
    const Case cases[] = {
        {"Date: 1\r\nMessage: m\r\n", false, false},
        {std::string(998, 'a') + "\r\nb", false, false},
        {std::string(999, 'a'), false, true},
        {"x\n" + std::string(2000, 'a') + "\n", false, true},
        {"caf\u00e9", true, true},
        {"at 10:00\u202FAM", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 40));
        const MailBody body = encodeBody(c.body);
        EXPECT_EQ(body.utf8, c.utf8);
        EXPECT_EQ(body.quotedPrintable, c.quotedPrintable);
        if (!c.quotedPrintable) {
            EXPECT_EQ(body.text, c.body);
        }
        for (const auto& line : test::crlfLines(body.text))
            EXPECT_LE(line.size(), c.quotedPrintable ? 76u : 998u);
    }
}

TEST(QuotedPrintable, EncodesWhatCannotTravelAsItIs)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a=b", "a=3Db"},
        {"end \r\nnext\t", "end=20\r\nnext=09"},
        {"caf\u00e9\nbare LF", "caf=C3=A9\r\nbare LF"},
        {"lone\rCR", "lone=0DCR"},
        {std::string(80, 'a'), std::string(75, 'a') + "=\r\n" + std::string(5, 'a')},
        {std::string(74, 'a') + "\u00e9", std::string(74, 'a') + "=\r\n=C3=A9"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(quotedPrintable(in), out) << in;
}

TEST(MailHeader, DeclaresTheBodysCharsetAndEncodingAndFoldsALongRecipientList)
{
    MailHeader h{"d@example.com", {}, "s", false, true, true};
    for (int i = 0; i < 30; ++i)
        h.recipients.push_back("someone" + std::to_string(i) + "@example.com");
    const std::string header = formatHeader(h, 0);
    EXPECT_NE(header.find("\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n"), std::string::npos);
    EXPECT_NE(header.find("\r\nContent-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    for (const auto& line : test::crlfLines(header))
        EXPECT_LE(line.size(), 78u) << line;
    EXPECT_NE(header.find(",\r\n <someone"), std::string::npos);
}

} // namespace
} // namespace brantwell
