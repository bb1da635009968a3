#include "discovery/DatagramDump.h"
#include "discovery/IdentityAnnouncement.h"
#include "discovery/LocalNetwork.h"

#include <gtest/gtest.h>

#include <limits>

using namespace fieldmon;

TEST(IdentityAnnouncement, FieldsByPosition)
{
    struct Case {
        std::string payload;
        IdentityAnnouncement want;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"PLAT;PUMP;North well;3;1207;1", {"PLAT", "PUMP", "North well", 3, 1207, true}},
        {"", {"", "", "", 0, 0, false}},                               // a bare 'm'
        {"A;B", {"A", "B", "", 0, 0, false}},                          // missing fields keep defaults
        {"A;B;C;7;99;0;extra;more", {"A", "B", "C", 7, 99, false}},    // fields past the sixth ignored
        {";;;;;", {"", "", "", 0, 0, false}},                          // all empty
        {"A;B;C;;;", {"A", "B", "C", 0, 0, false}},                    // empty numbers are 0
        {"A\0B;C"s, {"A", "B", "C", 0, 0, false}},                     // a 0 byte ends a field too
        {"P;T;N; 12abc;-5;+3", {"P", "T", "N", 12, -5, true}},         // atoi: blanks, sign, stop at letter
        {"P;T;N;x;y;z", {"P", "T", "N", 0, 0, false}},                 // no digits give 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        IdentityAnnouncement got = parseIdentityAnnouncement(c.payload);
        EXPECT_EQ(got.platform, c.want.platform);
        EXPECT_EQ(got.type, c.want.type);
        EXPECT_EQ(got.name, c.want.name);
        EXPECT_EQ(got.version, c.want.version);
        EXPECT_EQ(got.serialNumber, c.want.serialNumber);
        EXPECT_EQ(got.service, c.want.service);
    }
}

TEST(IdentityAnnouncement, ServiceFieldIsOnOnlyAboveZero)
{
    for (auto [field, on] : {std::pair{"2", true}, {"1", true}, {"0", false}, {"-1", false}, {"", false},
                             {"on", false}, {" 7", true}}) {
        SCOPED_TRACE(field);
        EXPECT_EQ(parseIdentityAnnouncement(std::string("P;T;N;1;2;") + field).service, on);
    }
}

TEST(IdentityAnnouncement, DecimalNeverOverflows)
{
    // atoi on "99999999999" is undefined behaviour; a hostile serial field
    // must give a defined value instead.
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(parseDecimal("2147483647"), max);
    EXPECT_EQ(parseDecimal("2147483648"), max);
    EXPECT_EQ(parseDecimal("99999999999999999999999999"), max);
    EXPECT_EQ(parseDecimal("-2147483648"), min);
    EXPECT_EQ(parseDecimal("-99999999999999999999999999"), min);
    EXPECT_EQ(parseDecimal("\t\n 42"), 42);
    EXPECT_EQ(parseDecimal("- 4"), 0);
    EXPECT_EQ(parseDecimal("+-4"), 0);
}

TEST(IdentityAnnouncement, TextFieldsAreAlwaysValidUtf8)
{
    EXPECT_EQ(decodeTextField("North well"), "North well");
    EXPECT_EQ(decodeTextField("Br\xc3\xbc"
                              "cke"),
              "Br\xc3\xbc"
              "cke"); // valid UTF-8 kept
    EXPECT_EQ(decodeTextField("A\xff\xfe"), "A??");
    EXPECT_EQ(decodeTextField("\xc3"), "?");               // cut sequence
    EXPECT_EQ(decodeTextField("\xc0\xaf"), "??");          // overlong form
    EXPECT_EQ(decodeTextField("\xed\xa0\x80"), "???");     // surrogate
}

TEST(DatagramDump, ExactFormat)
{
    EXPECT_EQ(datagramDump(""), "recsize: 0\n datagram:\n         \n");
    EXPECT_EQ(datagramDump(std::string("i\x01\xff", 3)),
              "recsize: 3\n datagram: 0x69 0x01 0xff\n            105   1   255\n");
}

TEST(LocalNetwork, AnyUpNonLoopbackIPv4InterfaceThatBroadcasts)
{
    // Routes are not asked: a LAN with a default gateway and no 169.254/16
    // route of its own used to count as no local network.
    const NetworkInterface wlan{"wlan0", true, false, true}, lo{"lo", true, true, false},
        down{"eth1", false, false, true}, tun{"tun0", true, false, false};
    struct Case {
        const char* what;
        std::vector<NetworkInterface> ipv4;
        LocalNetwork want;
    };
    const Case cases[] = {
        {"no IPv4 address anywhere", {}, LocalNetwork::NotDirect},
        {"loopback only", {lo}, LocalNetwork::NotDirect},
        {"interface down", {lo, down}, LocalNetwork::NotDirect},
        {"point-to-point link without broadcast", {lo, tun}, LocalNetwork::NotDirect},
        {"wireless LAN", {lo, wlan}, LocalNetwork::Direct},
        {"wireless LAN among others", {tun, down, wlan, lo}, LocalNetwork::Direct},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(evaluateLocalNetwork(c.ipv4), c.want);
    }
}
