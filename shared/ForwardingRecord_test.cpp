#include "ForwardingRecord.h"

#include <gtest/gtest.h>

namespace brantwell {
namespace {

using nlohmann::json;

json central()
{
    return {{"Name", "Central"}, {"Host", "logs.example.net"}, {"Port", 6514}, {"Transport", "tls"},
            {"Format", "rfc5424"}};
}

TEST(ForwardingRecord, NamesTheFirstProblemOfEachUnusableRecord)
{
    struct Case {
        json change;
        std::string reason;
    };
    const Case cases[] = {
        {{{"Name", "  "}}, "the name is empty"},
        {{{"Host", ""}}, "no host; give the upstream server's name or address"},
        {{{"Host", "two words"}}, "\"two words\" is not a host name or address"},
        {{{"Port", 0}}, "port 0 is not a port from 1 to 65535"},
        {{{"Port", 70000}}, "port 70000 is not a port from 1 to 65535"},
        {{{"Port", "60a"}}, "\"Port\" is missing or not a whole number"},
        {{{"Transport", "relp"}}, "transport \"relp\" is not udp, tcp or tls"},
        {{{"Format", "json"}}, "format \"json\" is not rfc5424 or rfc3164"},
        {{{"CaFile", "ca.pem"}}, "the CA file \"ca.pem\" is not an absolute path"},
        {{{"CertificateFile", "/etc/c.pem"}}, "a client certificate needs both \"CertificateFile\" and \"KeyFile\""},
        {{{"QueueMegabytes", 0}}, "a queue of 0 MB is not from 1 to 1048576"},
        {{{"IP", "10.0.0.0"}}, "\"IP\" and \"Mask\" go together: give both, or neither for every sender"},
        {{{"IP", "10.0.0.0"}, {"Mask", "40"}}, "mask \"40\" is not a prefix length from 0 to 32"},
        {{{"Severity", ""}}, "the severity pattern is empty; * matches any text"},
    };
    for (const auto& c : cases) {
        json r = central();
        r.update(c.change);
        EXPECT_EQ(forwardingRecordProblem(r).value_or("(none)"), c.reason) << r.dump();
        EXPECT_FALSE(ForwardingDestination::fromRecord(r).has_value()) << r.dump();
    }
    EXPECT_EQ(forwardingRecordProblem(json::array()).value_or(""), "the record is not a dictionary");
}

TEST(ForwardingRecord, AbsentTestFieldsMatchEveryEventAndPresentOnesSelect)
{
    auto all = ForwardingDestination::fromRecord(central());
    ASSERT_TRUE(all);
    EXPECT_EQ(all->port, 6514);
    EXPECT_EQ(all->transport, ForwardTransport::Tls);
    EXPECT_EQ(all->queueBytes, 256u * 1024 * 1024);
    EXPECT_TRUE(all->test.matches(criteriaOf("2001:db8::1", "Unknown", "x")));
    EXPECT_TRUE(all->test.matches(criteriaOf("10.1.2.3", "Kernel.Emergency", "disk full")));

    json r = central();
    r.update({{"IP", "10.0.0.0"}, {"Mask", 8}, {"Severity", "Error"}, {"QueueMegabytes", "2"}, {"Port", "514"}});
    auto some = ForwardingDestination::fromRecord(r);
    ASSERT_TRUE(some);
    EXPECT_EQ(some->queueBytes, 2u * 1024 * 1024);
    EXPECT_EQ(some->port, 514);
    EXPECT_TRUE(some->test.matches(criteriaOf("10.9.9.9", "Mail.Error", "x")));
    EXPECT_FALSE(some->test.matches(criteriaOf("10.9.9.9", "Mail.Warning", "x")));
    EXPECT_FALSE(some->test.matches(criteriaOf("11.0.0.1", "Mail.Error", "x")));
}

TEST(ForwardingRecord, ListProblemsNameThePositionAndRefuseATakenName)
{
    json second = central();
    second["Port"] = 0;
    const json d = {{"forwardingArray", json::array({central(), second, central()})}};
    const auto problems = unusableForwardingRecords(d);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0], "forwardingArray[1] \"Central\": port 0 is not a port from 1 to 65535");
    EXPECT_EQ(problems[1], "forwardingArray[2] \"Central\": the name is used by an earlier destination");
    EXPECT_TRUE(unusableForwardingRecords({{"forwardingArray", json::array({central()})}}).empty());
    EXPECT_EQ(unusableForwardingRecords({{"forwardingArray", 3}}).size(), 1u);
}

TEST(ForwardingRecord, FolderNamesAreSafeAndDistinct)
{
    EXPECT_EQ(forwardingFolderName("Central-1_a"), "Central-1_a");
    EXPECT_EQ(forwardingFolderName("../etc"), "%2E%2E%2Fetc");
    EXPECT_EQ(forwardingFolderName("a b"), "a%20b");
    const std::string longA(300, 'a');
    const std::string longB = std::string(299, 'a') + "b";
    EXPECT_LE(forwardingFolderName(longA).size(), 120u);
    EXPECT_NE(forwardingFolderName(longA), forwardingFolderName(longB));
}

} // namespace
} // namespace brantwell
