#include "gateway/TopicEscape.h"
#include "gateway/TopicLayout.h"

#include <gtest/gtest.h>

#include <set>

namespace fieldmon::gateway {
namespace {

TEST(TopicEscape, HostileNamesBecomeOneSafeLevelAndReadBack)
{
    auto check = [](const std::string& name, const std::string& expected) {
        std::string level = escapeTopicLevel(name);
        EXPECT_EQ(level, expected) << name;
        EXPECT_EQ(level.find_first_of("/+#$"), std::string::npos) << name;
        for (unsigned char c : level)
            EXPECT_TRUE(c > 0x20 && c < 0x7F) << name;
        EXPECT_EQ(unescapeTopicLevel(level), name) << name;
    };
    check("1207", "1207");
    check("speed_set-2.5", "speed_set-2.5");
    check("a/b", "a~2Fb");
    check("+", "~2B");
    check("#", "~23");
    check("$SYS", "~24SYS");
    check("~7E", "~7E7E");
    check("", "~");
    check("\x01\n", "~01~0A");
    check("Öl", "~C3~96l");
    check(std::string("a\0b", 3), "a~00b");
}

TEST(TopicEscape, DistinctNamesStayDistinct)
{
    // The escape byte is itself escaped, so a name that looks like an
    // escape cannot meet the name it seems to stand for.
    std::set<std::string> levels;
    for (std::string name : {"a/b", "a~2Fb", "a~2fb", "~", "", "~7E", "_", "_5F"})
        EXPECT_TRUE(levels.insert(escapeTopicLevel(name)).second) << name;
    std::set<std::string> ids;
    for (std::string name : {"a_b", "a_5Fb", "a-b", "a.b", "a/b", "_", ""})
        EXPECT_TRUE(ids.insert(homeAssistantId(name)).second) << name;
    for (const std::string& id : ids)
        EXPECT_EQ(id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-"),
                  std::string::npos);
}

TEST(TopicEscape, LongNamesAreCutWithAHash)
{
    std::string a(400, '/');
    std::string b = a;
    b.back() = '+';
    std::string la = escapeTopicLevel(a);
    std::string lb = escapeTopicLevel(b);
    EXPECT_LE(la.size(), 128u);
    EXPECT_NE(la, lb); // the same first 36 bytes, different hashes
    EXPECT_EQ(unescapeTopicLevel(la), std::nullopt);
    // The cut never leaves half an escape before the hash.
    for (std::size_t keep = 100; keep < 140; ++keep) {
        std::string name = std::string(keep, 'x') + std::string(100, '#');
        std::string level = escapeTopicLevel(name);
        std::size_t hash = level.find("~~");
        ASSERT_NE(hash, std::string::npos);
        std::string head = level.substr(0, hash);
        EXPECT_TRUE(unescapeTopicLevel(head).has_value()) << keep;
    }
}

TEST(TopicEscape, PrefixesAndTheGatewayLevel)
{
    for (std::string good : {"fieldmon", "site4/fieldmon", "a-b_c.d"})
        EXPECT_TRUE(isValidTopicPrefix(good)) << good;
    for (std::string bad : {"", "/x", "x/", "a//b", "a/+/b", "x#", "$SYS", "a b", "Ö"})
        EXPECT_FALSE(isValidTopicPrefix(bad)) << bad;

    // A device whose serial reads "gateway" must not publish onto
    // <prefix>/gateway/<id>/status through a page "<id>" with an element
    // "status".
    TopicLayout topics("fieldmon", "homeassistant", "gw1");
    EXPECT_EQ(topics.gatewayStatus(), "fieldmon/gateway/gw1/status");
    EXPECT_NE(topics.state("gateway", "gw1", "status"), topics.gatewayStatus());
    EXPECT_EQ(topics.state("gateway", "gw1", "status"), "fieldmon/~67ateway/gw1/status");
    EXPECT_EQ(unescapeTopicLevel("~67ateway"), "gateway");
}

} // namespace
} // namespace fieldmon::gateway
