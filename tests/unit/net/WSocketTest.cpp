// SPDX-License-Identifier: GPL-3.0-or-later
// The event socket without a peer: resolvers and their texts, the dotted
// address test, the error table, property assignment rules and the
// preconditions of Connect.
#include "net/WSocket.h"

#include "platform/winsock/WinSock.h"

#include <gtest/gtest.h>
#include <string>

using namespace net;
namespace ws = platform::winsock;

namespace {

// Runs fn and returns the text of the ESocketException it raised.
template <typename Fn>
std::string RaisedText(Fn&& fn)
{
    try {
        fn();
    } catch (const ESocketException& e) {
        return e.Message().toStdString();
    } catch (const platform::Exception& e) {
        return "other: " + e.Message().toStdString();
    }
    return "nothing raised";
}

} // namespace

TEST(WSocketDottedAddress, AcceptsFourPartsWithinRangeAndBlanksAround)
{
    EXPECT_TRUE(WSocketIsDottedIP("192.168.1.1"));
    EXPECT_TRUE(WSocketIsDottedIP("  10.0.0.1  "));
    EXPECT_TRUE(WSocketIsDottedIP("255.255.255.255"));
    EXPECT_TRUE(WSocketIsDottedIP("0.0.0.0"));
}

TEST(WSocketDottedAddress, RejectsWrongPartCountsRangesAndDotPlacement)
{
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3.4.5"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3.256"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.300.4"));
    EXPECT_FALSE(WSocketIsDottedIP(".1.2.3.4"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3.4."));
    EXPECT_FALSE(WSocketIsDottedIP("1..2.3"));
    EXPECT_FALSE(WSocketIsDottedIP("1.2.3.4 x"));
    EXPECT_FALSE(WSocketIsDottedIP("host.example.org"));
    EXPECT_FALSE(WSocketIsDottedIP(""));
    EXPECT_FALSE(WSocketIsDottedIP("   "));
}

TEST(WSocketResolveHost, ReturnsNetworkOrderAddressOfDottedText)
{
    EXPECT_EQ(WSocketResolveHost("127.0.0.1"), ws::htonl(ws::INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), ws::htonl(ws::INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), ws::INADDR_NONE) << "the broadcast address is no failure";
    EXPECT_EQ(WSocketResolveHost("localhost"), ws::htonl(ws::INADDR_LOOPBACK));
}

TEST(WSocketResolveHost, FailureTextsNameTheHost)
{
    EXPECT_EQ(RaisedText([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    const std::string longName(257, 'a');
    EXPECT_EQ(RaisedText([&] { WSocketResolveHost(longName); }),
              "WSocketResolveHost: '" + longName + "' Invalid Hostname.");
    // Passes the dotted test (anything after the last number is taken as its end)
    // but is no address.
    EXPECT_EQ(RaisedText([] { WSocketResolveHost("1.2.3.4x"); }), "WSocketResolveHost: '1.2.3.4x' Invalid IP address.");
    const std::string unknown = RaisedText([] { WSocketResolveHost("no-such-host.invalid"); });
    EXPECT_EQ(unknown.rfind("WSocketResolveHost: Cannot convert host address 'no-such-host.invalid', Error #1", 0), 0u)
        << unknown;
}

TEST(WSocketResolvePort, LeadingDigitsServiceNamesAndFailureTexts)
{
    EXPECT_EQ(WSocketResolvePort("80abc", "tcp"), 80);
    EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
    EXPECT_EQ(RaisedText([] { WSocketResolvePort("70000", "tcp"); }), "other: Range check error");
    EXPECT_EQ(RaisedText([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(RaisedText([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(RaisedText([] { WSocketResolvePort("80", ""); }), "WSocketResolvePort: Invalid Proto.");
    const std::string unknown = RaisedText([] { WSocketResolvePort("nosuchservice", "tcp"); });
    EXPECT_EQ(unknown.rfind("WSocketResolvePort: Cannot convert port 'nosuchservice', Error #", 0), 0u) << unknown;
}

TEST(WSocketResolveProto, NumbersNamesAndFailureTexts)
{
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto(" udp "), 17);
    EXPECT_EQ(WSocketResolveProto(" 17 "), 17);
    EXPECT_EQ(RaisedText([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    const std::string unknown = RaisedText([] { WSocketResolveProto("nosuchproto"); });
    EXPECT_EQ(unknown.rfind("WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #", 0), 0u) << unknown;
}

TEST(WSocketErrorTexts, KnownCodesGapsAndUnknownCodes)
{
    EXPECT_EQ(ErrorDescription(0), "No Error");
    EXPECT_EQ(ErrorDescription(ws::WSAECONNREFUSED), "Connection refused");
    EXPECT_EQ(ErrorDescription(ws::WSASYSNOTREADY), "Network sub-system is unusable");
    EXPECT_EQ(ErrorDescription(10080), "Not a WinSock error");
    EXPECT_EQ(ErrorDescription(1110), "Not a WinSock error");
}

TEST(WSocketProperties, AssignedTextIsTrimmedAndBlankTextLeavesAddrUnassigned)
{
    TWSocket socket;
    socket.SetAddr("  10.0.0.1 ");
    EXPECT_EQ(socket.Addr(), "10.0.0.1");
    socket.SetPort("80");
    socket.SetAddr("   ");
    EXPECT_EQ(RaisedText([&] { socket.Connect(); }), "Connect: No IP Address Specified");
    EXPECT_EQ(socket.LastError(), 0) << "a precondition is no WinSock failure";
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(WSocketProperties, ConnectChecksPortThenAddrThenProto)
{
    TWSocket socket;
    EXPECT_EQ(RaisedText([&] { socket.Connect(); }), "Connect: No Port Specified");
    socket.SetPort("80");
    EXPECT_EQ(RaisedText([&] { socket.Connect(); }), "Connect: No IP Address Specified");
    socket.SetAddr("127.0.0.1");
    socket.SetProto("");
    EXPECT_EQ(RaisedText([&] { socket.Connect(); }), "Connect: No Protocol Specified");
}

TEST(WSocketProperties, ResolverFailuresInConnectArePrefixed)
{
    TWSocket socket;
    socket.SetPort("80");
    socket.SetAddr("1.2.3.4x");
    EXPECT_EQ(RaisedText([&] { socket.Connect(); }), "connect: WSocketResolveHost: '1.2.3.4x' Invalid IP address.");
    socket.SetPort("70000");
    EXPECT_EQ(RaisedText([&] { socket.Connect(); }), "connect: Range check error");
    EXPECT_EQ(socket.State(), wsClosed);
}

TEST(WSocketProperties, LocalAddressAndSendFlagsAreValidated)
{
    TWSocket socket;
    EXPECT_EQ(RaisedText([&] { socket.SetLocalAddr("not-an-address"); }), "SetLocalAddr(): Invalid IP address");
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    socket.SetLocalAddr("");
    EXPECT_EQ(socket.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(RaisedText([&] { socket.SetSendFlags(5); }), "Invalid SendFlags");
    socket.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(socket.SendFlags(), wsSendUrgent);
}
