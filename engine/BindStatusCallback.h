#pragma once
// The download progress sink handed to the web transfer. It turns every progress
// event into one readable status line and leaves what to do with the line to a subclass.
// It is owned by the object that derives from it: no reference counting, no interfaces.
#include <windows.h>
#include <urlmon.h>

#include <string>

namespace ziz {

// "FINDINGRESOURCE" ... "SSLUX_NAVBLOCKED" for the codes 1 to 53, "UNKNOWN_BINDSTATUS" otherwise.
const char* BindStatusName(ULONG statusCode);

// The name, " " + text when there is a text, " ( progress / maximum )" when maximum is non-zero.
std::wstring FormatBindStatusLine(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText);

class CBindStatusCallback : public IBindStatusCallback {
public:
    CBindStatusCallback() = default;
    CBindStatusCallback(const CBindStatusCallback&) = delete;
    CBindStatusCallback& operator=(const CBindStatusCallback&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    // Never cancels the download.
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                              STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

    // Receives every formatted status line.
    virtual void OnStatusText(ULONG progress, ULONG progressMax, const std::wstring& line) = 0;

protected:
    virtual ~CBindStatusCallback() = default;
};

}  // namespace ziz
