#include "discovery/DatagramDump.h"
#include "discovery/IdentityAnnouncement.h"
#include "discovery/LocalNetwork.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/route.h>

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

namespace {

Route route(const char* iface, const char* dest, const char* mask, const char* gw = "0.0.0.0", int metric = 0)
{
    Route r;
    r.interface = iface;
    r.destination = inet_addr(dest);
    r.mask = inet_addr(mask);
    r.gateway = inet_addr(gw);
    r.flags = RTF_UP | (r.gateway ? RTF_GATEWAY : 0);
    r.metric = metric;
    return r;
}

} // namespace

TEST(LocalNetwork, DirectOnlyWithoutGatewayOnAnUpInterface)
{
    const std::vector<NetworkInterface> ifaces = {
        {"lo", true, true, true}, {"wlan0", true, false, true}, {"eth1", false, false, true}, {"tun0", true, false, false}};
    struct Case {
        const char* what;
        std::vector<Route> routes;
        LocalNetwork want;
    };
    const Case cases[] = {
        {"no routes", {}, LocalNetwork::NotDirect},
        {"default via gateway only", {route("wlan0", "0.0.0.0", "0.0.0.0", "192.168.1.1")}, LocalNetwork::NotDirect},
        {"link-local route on wlan0",
         {route("wlan0", "0.0.0.0", "0.0.0.0", "192.168.1.1"), route("wlan0", "169.254.0.0", "255.255.0.0", "0.0.0.0", 1000)},
         LocalNetwork::Direct},
        {"default route without gateway", {route("wlan0", "0.0.0.0", "0.0.0.0")}, LocalNetwork::Direct},
        {"longest prefix wins over a direct default",
         {route("wlan0", "0.0.0.0", "0.0.0.0"), route("wlan0", "169.254.0.0", "255.255.0.0", "10.0.0.1")},
         LocalNetwork::NotDirect},
        {"lower metric wins among equals",
         {route("eth1", "169.254.0.0", "255.255.0.0", "0.0.0.0", 10), route("wlan0", "169.254.0.0", "255.255.0.0", "0.0.0.0", 5)},
         LocalNetwork::Direct},
        {"interface down", {route("eth1", "169.254.0.0", "255.255.0.0")}, LocalNetwork::NotDirect},
        {"interface without IPv4", {route("tun0", "169.254.0.0", "255.255.0.0")}, LocalNetwork::NotDirect},
        {"loopback", {route("lo", "169.254.0.0", "255.255.0.0")}, LocalNetwork::NotDirect},
        {"route to another network", {route("wlan0", "10.0.0.0", "255.0.0.0")}, LocalNetwork::NotDirect},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(evaluateLocalNetwork(ifaces, c.routes), c.want);
    }
}

TEST(LocalNetwork, ParsesTheKernelRouteTable)
{
    const char* text = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                       "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                       "wlan0\t0000FEA9\t00000000\t0001\t0\t0\t1000\t0000FFFF\t0\t0\t0\n"
                       "garbage line\n"
                       "eth0\tZZZZZZZZ\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
    auto routes = parseRouteTable(text);
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].gateway, inet_addr("192.168.1.1"));
    EXPECT_EQ(routes[0].metric, 600);
    EXPECT_EQ(routes[1].destination, inet_addr("169.254.0.0"));
    EXPECT_EQ(routes[1].mask, inet_addr("255.255.0.0"));
    EXPECT_EQ(evaluateLocalNetwork({{"wlan0", true, false, true}}, routes), LocalNetwork::Direct);
}
