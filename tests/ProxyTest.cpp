// Transfers honour the proxy a user sets in the system's Internet options. The harness's
// forwarding proxy (tests/harness/httpproxy.py) logs what it forwards and sends it to the
// loopback server whatever host the address names; the tests address the server by a name
// no resolver knows, so only a transfer through the proxy can succeed.
#include "engine/Downloader.h"
#include "engine/OSWorker.h"
#include "osh/AutoProxy.h"
#include "osh/Download.h"
#include "osh/FileHash.h"
#include "osh/ProxySetting.h"
#include "osh/ScopedHandle.h"
#include "support/EndToEnd.h"
#include "support/PolicyKeyValues.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using testenv::Narrow;
using testenv::Widen;

const wchar_t* const kInternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char* const kProxiedHost = "norlo-proxied.invalid";

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One value of the user's Internet settings, put back as it was (or removed) afterwards.
class SavedInternetSetting {
public:
    explicit SavedInternetSetting(const wchar_t* name) : name_(name)
    {
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, name_, RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr,
                         &size) != ERROR_SUCCESS)
            return;
        data_.resize(size);
        present_ = RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, name_, RRF_RT_ANY | RRF_NOEXPAND, &type_,
                                data_.data(), &size) == ERROR_SUCCESS;
        data_.resize(size);
    }
    ~SavedInternetSetting()
    {
        if (present_) {
            RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name_, type_, data_.data(),
                            static_cast<DWORD>(data_.size()));
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name_);
        }
    }
    SavedInternetSetting(const SavedInternetSetting&) = delete;
    SavedInternetSetting& operator=(const SavedInternetSetting&) = delete;

private:
    const wchar_t* name_;
    bool present_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> data_;
};

bool SetString(const wchar_t* name, const std::wstring& value)
{
    return RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetDword(const wchar_t* name, DWORD value)
{
    return RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, name, REG_DWORD, &value, sizeof(value)) ==
           ERROR_SUCCESS;
}

class SystemProxy : public ::testing::Test {
protected:
    void SetUp() override
    {
        httpPort_ = testenv::Variable("NORLO_HTTP_PORT");
        proxyPort_ = testenv::Variable("NORLO_PROXY_PORT");
        ASSERT_FALSE(httpPort_.empty()) << "the harness's HTTP server is not running";
        ASSERT_FALSE(proxyPort_.empty()) << "the harness's HTTP proxy is not running";
        proxyLog_ = testenv::WindowsPathOf(testenv::Variable("NORLO_PROXY_LOG"));
        logStart_ = ReadFile(proxyLog_).size();
        // Plain http only, and never for the loopback addresses the other suites use, so a
        // test running beside this one keeps talking to its server directly.
        ASSERT_TRUE(SetDword(L"ProxyEnable", 1));
        ASSERT_TRUE(SetString(L"ProxyServer", Widen("http=127.0.0.1:" + proxyPort_)));
        ASSERT_TRUE(SetString(L"ProxyOverride", L"127.0.0.1;localhost"));

        name_ = "proxied-" + std::to_string(GetCurrentProcessId()) + ".msi";
        served_ = testenv::WindowsPathOf(testenv::Variable("NORLO_HTTP_ROOT") + "/" + name_);
        for (int i = 0; i < 70000; ++i) content_ += static_cast<char>('a' + (i * 13) % 26);
        std::ofstream(Narrow(served_), std::ios::binary) << content_;
        scratch_ = testenv::MakeScratchDirectory(L"proxy");
    }
    void TearDown() override
    {
        DeleteFileW(served_.c_str());
        testenv::RemoveTree(scratch_);
    }
    std::wstring ProxiedUrl(const std::string& path) const
    {
        return Widen("http://" + std::string(kProxiedHost) + ":" + httpPort_ + "/" + path);
    }
    // The requests the proxy forwarded since the test began, one "METHOD address" each.
    std::vector<std::string> Forwarded() const
    {
        const std::string text = ReadFile(proxyLog_);
        std::vector<std::string> lines;
        size_t start = logStart_;
        for (size_t end; start < text.size() && (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    static int Count(const std::vector<std::string>& lines, const std::string& line)
    {
        int count = 0;
        for (const std::string& each : lines) count += each == line ? 1 : 0;
        return count;
    }

    SavedInternetSetting enable_{L"ProxyEnable"};
    SavedInternetSetting server_{L"ProxyServer"};
    SavedInternetSetting override_{L"ProxyOverride"};
    std::string httpPort_, proxyPort_, name_, content_;
    std::wstring proxyLog_, served_, scratch_;
    size_t logStart_ = 0;
};

TEST_F(SystemProxy, PlainDownloadGoesThroughTheProxy)
{
    const std::wstring target = scratch_ + L"\\plain.bin";
    ASSERT_TRUE(osh::DownloadToFile(target, ProxiedUrl(name_)));
    EXPECT_EQ(content_, ReadFile(target));
    EXPECT_EQ(1, Count(Forwarded(), "GET " + Narrow(ProxiedUrl(name_)))) << testing::PrintToString(Forwarded());
}

TEST_F(SystemProxy, ComponentDownloadGoesThroughTheProxyAndIsVerified)
{
    InstallItem item;
    item.Filename = Widen(name_);
    item.Url = ProxiedUrl(name_);
    item.Hash = osh::CalculateFileHash(served_);
    item.Size = std::to_wstring(content_.size());
    item.LocalPath = scratch_ + L"\\" + item.Filename;
    ziz::OSWorker engine;
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_EQ(content_, ReadFile(item.LocalPath));
    EXPECT_GE(Count(Forwarded(), "GET " + Narrow(item.Url)), 1) << testing::PrintToString(Forwarded());
}

// The real program's update check, from the address the key store names.
TEST_F(SystemProxy, UpdateCheckGoesThroughTheProxy)
{
    testsupport::SavedStoreValue updateUrl{L"Setup", L"updateURL"};
    testsupport::SavedStoreValue newestVersion{L"Setup", L"NewestVersion"};
    testsupport::SavedStoreValue newestPath{L"Setup", L"NewestPath"};
    endtoend::LayOutRelease();
    const std::wstring url = ProxiedUrl("update.xml");
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, url.c_str(),
                                 static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t)));
    const DWORD exitCode = endtoend::RunSetup(L"/check /silent");
    endtoend::CleanRelease();
    EXPECT_EQ(0u, exitCode) << "the published document names a newer bootstrapper";
    EXPECT_EQ(1, Count(Forwarded(), "GET " + Narrow(url))) << testing::PrintToString(Forwarded());
}

// The administrator's ProxyMode over the user's settings.
class PolicyProxy : public SystemProxy {
protected:
    void TearDown() override
    {
        osh::SetProxySetting(osh::ProxySetting());
        SystemProxy::TearDown();
    }
    // The real program's CHECK from url, the policy's update address: the document is fetched
    // once, through the proxy.
    void ExpectCheckThroughTheProxy(const std::wstring& url)
    {
        ASSERT_TRUE(policies_.SetText(L"UpdateURL", url));
        testsupport::SavedStoreValue newestVersion{L"Setup", L"NewestVersion"};
        testsupport::SavedStoreValue newestPath{L"Setup", L"NewestPath"};
        endtoend::LayOutRelease();
        const DWORD exitCode = endtoend::RunSetup(L"/check /silent");
        endtoend::CleanRelease();
        EXPECT_EQ(0u, exitCode) << "the published document names a newer bootstrapper";
        EXPECT_EQ(1, Count(Forwarded(), "GET " + Narrow(url))) << testing::PrintToString(Forwarded());
    }
    testsupport::PolicyKeyScope policies_;
};

TEST_F(PolicyProxy, DirectIgnoresTheSystemProxy)
{
    osh::SetProxySetting({osh::ProxyKind::Direct, L"", L""});
    std::string failure;
    EXPECT_FALSE(osh::DownloadToFile(scratch_ + L"\\direct.bin", ProxiedUrl(name_), failure));
    EXPECT_EQ(0, Count(Forwarded(), "GET " + Narrow(ProxiedUrl(name_)))) << testing::PrintToString(Forwarded());
    // The server itself is still reached, without the proxy.
    const std::wstring loopback = Widen("http://127.0.0.1:" + httpPort_ + "/" + name_);
    ASSERT_TRUE(osh::DownloadToFile(scratch_ + L"\\loopback.bin", loopback));
    EXPECT_EQ(content_, ReadFile(scratch_ + L"\\loopback.bin"));
}

// The real program reads the policy: with the user's proxy off, only the administrator's
// fixed proxy can reach the name no resolver knows.
TEST_F(PolicyProxy, FixedProxyPolicyCarriesTheRealProgramsUpdateCheck)
{
    ASSERT_TRUE(SetDword(L"ProxyEnable", 0));
    ASSERT_TRUE(policies_.SetText(L"ProxyMode", L"fixed"));
    ASSERT_TRUE(policies_.SetText(L"ProxyServer", Widen("127.0.0.1:" + proxyPort_)));
    ExpectCheckThroughTheProxy(ProxiedUrl("update.xml"));
}

// The administrator's auto-config script, served beside the release: the name no resolver
// knows goes through the harness's proxy, everything else (the script itself) direct.
class PolicyProxyScript : public PolicyProxy {
protected:
    void SetUp() override
    {
        PolicyProxy::SetUp();
        script_ = "proxy-" + std::to_string(GetCurrentProcessId()) + ".pac";
        scriptPath_ = testenv::WindowsPathOf(testenv::Variable("NORLO_HTTP_ROOT") + "/" + script_);
        std::ofstream(Narrow(scriptPath_), std::ios::binary)
            << "function FindProxyForURL(url, host) {\n"
               "  return host == \"" << kProxiedHost << "\" ? \"PROXY 127.0.0.1:" << proxyPort_ << "; DIRECT\" : \"DIRECT\";\n"
               "}\n";
        ASSERT_TRUE(SetDword(L"ProxyEnable", 0));
    }
    void TearDown() override
    {
        DeleteFileW(scriptPath_.c_str());
        PolicyProxy::TearDown();
    }
    std::wstring ScriptUrl(const std::string& name) const { return Widen("http://127.0.0.1:" + httpPort_ + "/" + name); }

    std::string script_;
    std::wstring scriptPath_;
};

// With the user's proxy off, only the proxy the script names can reach the name no resolver
// knows; the run says what the script chose.
TEST_F(PolicyProxyScript, ScriptCarriesTheRealProgramsUpdateCheck)
{
    ASSERT_TRUE(policies_.SetText(L"ProxyMode", L"pac"));
    ASSERT_TRUE(policies_.SetText(L"ProxyPacUrl", ScriptUrl(script_)));
    const std::wstring url = ProxiedUrl("update.xml");
    ExpectCheckThroughTheProxy(url);
    const std::string chosen = "Proxy script \"" + Narrow(ScriptUrl(script_)) + "\" sends \"" + Narrow(url) +
                               "\" through 127.0.0.1:" + proxyPort_;
    int said = 0;
    for (const std::string& line : endtoend::LastRunLines()) said += line.find(chosen) != std::string::npos;
    EXPECT_EQ(1, said) << chosen;
}

// A script that cannot answer stops the transfer, which direct would have completed: no
// transfer goes around the administrator's proxy.
TEST_F(PolicyProxyScript, ScriptThatCannotBeFetchedStopsTheTransfer)
{
    osh::SetProxySetting({osh::ProxyKind::Pac, L"", ScriptUrl("no-such-" + script_)});
    const std::wstring loopback = Widen("http://127.0.0.1:" + httpPort_ + "/" + name_);
    std::string failure;
    EXPECT_FALSE(osh::DownloadToFile(scratch_ + L"\\scripted.bin", loopback, failure));
    EXPECT_EQ("Download of \"" + Narrow(loopback) + "\" failed: the proxy script could not be fetched (error 12167)",
              failure);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((scratch_ + L"\\scripted.bin").c_str()));
    // The script's own answer, direct for the loopback address, lets it through.
    osh::SetProxySetting({osh::ProxyKind::Pac, L"", ScriptUrl(script_)});
    ASSERT_TRUE(osh::DownloadToFile(scratch_ + L"\\scripted.bin", loopback));
    EXPECT_EQ(content_, ReadFile(scratch_ + L"\\scripted.bin"));
    EXPECT_EQ(0, Count(Forwarded(), "GET " + Narrow(loopback))) << testing::PrintToString(Forwarded());
}

TEST(ProxyList, FirstProxyOfWinHttpsList)
{
    EXPECT_EQ(L"a:1", osh::FirstProxyOf(L"a:1; b:2"));
    EXPECT_EQ(L"a:1", osh::FirstProxyOf(L" a:1 b:2"));
    EXPECT_EQ(L"a:1", osh::FirstProxyOf(L";a:1"));
    EXPECT_EQ(L"", osh::FirstProxyOf(L" ; "));
}

}  // namespace
