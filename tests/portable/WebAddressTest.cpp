// Which addresses the engine downloads from: http and https with a host, nothing else.
// Free of Windows: built natively too.
#include "osh/Text.h"
#include "osh/WebAddress.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using Poco::Message;

struct Case {
    const wchar_t* url;
    const char* refusal;  // after "Refused address \"<url>\": "; empty when accepted
};

const Case kCases[] = {
    {L"http://127.0.0.1:8642/update.xml", ""},
    {L"https://updates.example.com/5.0/norlo5/Setup.exe", ""},
    {L"HTTPS://updates.example.com/x", ""},
    {L"http://user@host/x", ""},
    {L"https://updates.example.com", ""},
    {L"file:///C:/Windows/Temp/update.xml", "scheme \"file\", only http and https addresses are accepted"},
    {L"FILE://server/share/update.xml", "scheme \"file\", only http and https addresses are accepted"},
    {L"ftp://updates.example.com/update.xml", "scheme \"ftp\", only http and https addresses are accepted"},
    {L"javascript:alert(1)", "scheme \"javascript\", only http and https addresses are accepted"},
    {L"httpx://host/x", "scheme \"httpx\", only http and https addresses are accepted"},
    {L"\\\\server\\share\\update.xml", "a network path, not an http or https address"},
    {L"//server/share/update.xml", "a network path, not an http or https address"},
    {L"C:\\Downloads\\update.xml", "a local path, not an http or https address"},
    {L"c:/Downloads/update.xml", "a local path, not an http or https address"},
    {L"updates.example.com/update.xml", "no scheme, only http and https addresses are accepted"},
    {L" http://host/x", "no scheme, only http and https addresses are accepted"},
    {L"", "no scheme, only http and https addresses are accepted"},
    {L"http:update.xml", "no host"},
    {L"http:///update.xml", "no host"},
    {L"https://user@/x", "no host"},
};

std::string Expected(const Case& c)
{
    if (*c.refusal == '\0') return std::string();
    return "Refused address \"" + osh::Narrow(c.url) + "\": " + c.refusal;
}

TEST(WebAddress, OnlyHttpAndHttpsWithAHostAreAccepted)
{
    for (const Case& c : kCases) EXPECT_EQ(Expected(c), osh::WebAddressRefusal(c.url)) << osh::Narrow(c.url);
}

// A vendor build refuses every plain-http address, whatever its case, and nothing else changes.
TEST(WebAddress, VendorBuildAcceptsHttpsOnly)
{
    ASSERT_TRUE(osh::PlainHttpAccepted()) << "test builds accept the local http server";
    const bool previous = osh::SetPlainHttpAccepted(false);
    for (const Case& c : kCases) {
        const bool http = osh::AddressScheme(c.url) == L"http";
        const std::string expected =
            http ? "Refused address \"" + osh::Narrow(c.url) + "\": plain http, only https addresses are accepted"
                 : Expected(c);
        EXPECT_EQ(expected, osh::WebAddressRefusal(c.url)) << osh::Narrow(c.url);
    }
    EXPECT_EQ("Refused address \"HTTP://host/u.xml\": plain http, only https addresses are accepted",
              osh::WebAddressRefusal(L"HTTP://host/u.xml"));
    EXPECT_THROW(osh::RequireWebAddress(L"http://host/x"), std::runtime_error);
    osh::SetPlainHttpAccepted(previous);
    EXPECT_EQ("", osh::WebAddressRefusal(L"http://host/x"));
}

TEST(WebAddress, SchemeIsTheLowerCasedTextBeforeTheColon)
{
    EXPECT_EQ(L"https", osh::AddressScheme(L"HTTPS://x"));
    EXPECT_EQ(L"svn+ssh", osh::AddressScheme(L"svn+ssh://x"));
    EXPECT_EQ(L"", osh::AddressScheme(L"1http://x")) << "a scheme starts with a letter";
    EXPECT_EQ(L"", osh::AddressScheme(L"ht tp://x"));
    EXPECT_EQ(L"", osh::AddressScheme(L":x"));
}

TEST(WebAddress, RefusalIsLoggedOrThrownWithTheSameLine)
{
    testsupport::LogCapture log;
    EXPECT_TRUE(osh::IsWebAddress(L"https://updates.example.com/update.xml"));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(osh::IsWebAddress(L"file:///C:/update.xml"));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Refused address \"file:///C:/update.xml\": scheme \"file\", "
                                                  "only http and https addresses are accepted"));

    EXPECT_NO_THROW(osh::RequireWebAddress(L"http://127.0.0.1/a.msi"));
    try {
        osh::RequireWebAddress(L"\\\\server\\share\\a.msi");
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string("Refused address \"\\\\server\\share\\a.msi\": a network path, not an http or https "
                              "address"),
                  error.what());
    }
}

}  // namespace
