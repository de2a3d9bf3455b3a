#include "engine/BindStatusCallback.h"

#include <cstring>

namespace ziz {

namespace {

// Enumerator order of the system's BINDSTATUS values, starting at 1.
const char* const kBindStatusNames[] = {
    "FINDINGRESOURCE",
    "CONNECTING",
    "REDIRECTING",
    "BEGINDOWNLOADDATA",
    "DOWNLOADINGDATA",
    "ENDDOWNLOADDATA",
    "BEGINDOWNLOADCOMPONENTS",
    "INSTALLINGCOMPONENTS",
    "ENDDOWNLOADCOMPONENTS",
    "USINGCACHEDCOPY",
    "SENDINGREQUEST",
    "CLASSIDAVAILABLE",
    "MIMETYPEAVAILABLE",
    "CACHEFILENAMEAVAILABLE",
    "BEGINSYNCOPERATION",
    "ENDSYNCOPERATION",
    "BEGINUPLOADDATA",
    "UPLOADINGDATA",
    "ENDUPLOADDATA",
    "PROTOCOLCLASSID",
    "ENCODING",
    "VERIFIEDMIMETYPEAVAILABLE",
    "CLASSINSTALLLOCATION",
    "DECODING",
    "LOADINGMIMEHANDLER",
    "CONTENTDISPOSITIONATTACH",
    "FILTERREPORTMIMETYPE",
    "CLSIDCANINSTANTIATE",
    "IUNKNOWNAVAILABLE",
    "DIRECTBIND",
    "RAWMIMETYPE",
    "PROXYDETECTING",
    "ACCEPTRANGES",
    "COOKIE_SENT",
    "COMPACT_POLICY_RECEIVED",
    "COOKIE_SUPPRESSED",
    "COOKIE_STATE_UNKNOWN",
    "COOKIE_STATE_ACCEPT",
    "COOKIE_STATE_REJECT",
    "COOKIE_STATE_PROMPT",
    "COOKIE_STATE_LEASH",
    "COOKIE_STATE_DOWNGRADE",
    "POLICY_HREF",
    "P3P_HEADER",
    "SESSION_COOKIE_RECEIVED",
    "PERSISTENT_COOKIE_RECEIVED",
    "SESSION_COOKIES_ALLOWED",
    "CACHECONTROL",
    "CONTENTDISPOSITIONFILENAME",
    "MIMETEXTPLAINMISMATCH",
    "PUBLISHERAVAILABLE",
    "DISPLAYNAMEAVAILABLE",
    "SSLUX_NAVBLOCKED",
};

constexpr ULONG kBindStatusCount = sizeof(kBindStatusNames) / sizeof(kBindStatusNames[0]);

}  // namespace

const char* BindStatusName(ULONG statusCode)
{
    if (statusCode < 1 || statusCode > kBindStatusCount) return "UNKNOWN_BINDSTATUS";
    return kBindStatusNames[statusCode - 1];
}

std::wstring FormatBindStatusLine(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText)
{
    const char* name = BindStatusName(statusCode);
    std::wstring line(name, name + strlen(name));
    if (statusText != nullptr) line += L" " + std::wstring(statusText);
    if (progressMax != 0)
        line += L" ( " + std::to_wstring(progress) + L" / " + std::to_wstring(progressMax) + L" )";
    return line;
}

// The object's lifetime is its owner's; the system gets no other interface from it.
HRESULT CBindStatusCallback::QueryInterface(REFIID, void** object)
{
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}

ULONG CBindStatusCallback::AddRef() { return 0; }

ULONG CBindStatusCallback::Release() { return 0; }

HRESULT CBindStatusCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }

HRESULT CBindStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }

HRESULT CBindStatusCallback::OnLowResource(DWORD) { return E_NOTIMPL; }

HRESULT CBindStatusCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText)
{
    OnStatusText(progress, progressMax, FormatBindStatusLine(progress, progressMax, statusCode, statusText));
    return S_OK;
}

HRESULT CBindStatusCallback::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }

HRESULT CBindStatusCallback::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }

HRESULT CBindStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

HRESULT CBindStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

}  // namespace ziz
