#pragma once
// Move-only owners of system handles: each releases its handle on every path out of a
// scope, exceptions included. One small alias per handle kind.
#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace osh {

template <typename Traits>
class Scoped {
public:
    using handle_type = typename Traits::handle_type;

    Scoped() noexcept : handle_(Traits::Invalid()) {}
    explicit Scoped(handle_type handle) noexcept : handle_(handle) {}
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : handle_(other.release()) {}
    Scoped& operator=(Scoped&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Scoped() { reset(); }

    handle_type get() const noexcept { return handle_; }
    bool valid() const noexcept { return Traits::IsValid(handle_); }
    explicit operator bool() const noexcept { return valid(); }

    handle_type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    // Releases the current handle; returns false when the system refused to close it.
    bool reset(handle_type handle = Traits::Invalid()) noexcept
    {
        bool closed = true;
        if (Traits::IsValid(handle_)) closed = Traits::Close(handle_);
        handle_ = handle;
        return closed;
    }

    // For APIs that return the handle through an out pointer.
    handle_type* receive() noexcept
    {
        reset();
        return &handle_;
    }

private:
    handle_type handle_;
};

struct KernelHandleTraits {  // process, thread, event, token: null means none
    using handle_type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return CloseHandle(h) != FALSE; }
};

struct FileHandleTraits {  // CreateFile and snapshots: INVALID_HANDLE_VALUE means none
    using handle_type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return CloseHandle(h) != FALSE; }
};

struct FindHandleTraits {
    using handle_type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return FindClose(h) != FALSE; }
};

struct RegKeyTraits {  // never closes a predefined root key
    using handle_type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h)
    {
        return h != nullptr && reinterpret_cast<ULONG_PTR>(h) < reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
    }
    static bool Close(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

struct LocalMemoryTraits {
    using handle_type = HLOCAL;
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static bool Close(HLOCAL h) { return LocalFree(h) == nullptr; }
};

struct CoTaskMemoryTraits {
    using handle_type = void*;
    static void* Invalid() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static bool Close(void* p);
};

struct CryptProviderTraits {
    using handle_type = HCRYPTPROV;
    static HCRYPTPROV Invalid() { return 0; }
    static bool IsValid(HCRYPTPROV h) { return h != 0; }
    static bool Close(HCRYPTPROV h) { return CryptReleaseContext(h, 0) != FALSE; }
};

struct CryptHashTraits {
    using handle_type = HCRYPTHASH;
    static HCRYPTHASH Invalid() { return 0; }
    static bool IsValid(HCRYPTHASH h) { return h != 0; }
    static bool Close(HCRYPTHASH h) { return CryptDestroyHash(h) != FALSE; }
};

struct LibraryTraits {
    using handle_type = HMODULE;
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static bool Close(HMODULE h) { return FreeLibrary(h) != FALSE; }
};

struct GlobalMemoryTraits {
    using handle_type = HGLOBAL;
    static HGLOBAL Invalid() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static bool Close(HGLOBAL h) { return GlobalFree(h) == nullptr; }
};

// Catalog administrator context (HCATADMIN) and a catalog found through it (HCATINFO,
// released through its administrator context). Both are HANDLEs; mscat.h is only needed
// where they are closed.
struct CatalogAdminTraits {
    using handle_type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr; }
    static bool Close(HANDLE h);
};

struct CatalogContext {
    HANDLE admin;
    HANDLE info;
};

struct CatalogContextTraits {
    using handle_type = CatalogContext;
    static CatalogContext Invalid() { return CatalogContext{nullptr, nullptr}; }
    static bool IsValid(const CatalogContext& c) { return c.admin != nullptr && c.info != nullptr; }
    static bool Close(const CatalogContext& c);
};

// A certificate store, a decoded cryptographic message and a certificate read from a store.
struct CertStoreTraits {
    using handle_type = HCERTSTORE;
    static HCERTSTORE Invalid() { return nullptr; }
    static bool IsValid(HCERTSTORE h) { return h != nullptr; }
    static bool Close(HCERTSTORE h) { return CertCloseStore(h, 0) != FALSE; }
};

struct CryptMessageTraits {
    using handle_type = HCRYPTMSG;
    static HCRYPTMSG Invalid() { return nullptr; }
    static bool IsValid(HCRYPTMSG h) { return h != nullptr; }
    static bool Close(HCRYPTMSG h) { return CryptMsgClose(h) != FALSE; }
};

struct CertContextTraits {
    using handle_type = PCCERT_CONTEXT;
    static PCCERT_CONTEXT Invalid() { return nullptr; }
    static bool IsValid(PCCERT_CONTEXT h) { return h != nullptr; }
    static bool Close(PCCERT_CONTEXT h) { return CertFreeCertificateContext(h) != FALSE; }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedFile = Scoped<FileHandleTraits>;
using ScopedFind = Scoped<FindHandleTraits>;
using ScopedKey = Scoped<RegKeyTraits>;
using ScopedLocalMemory = Scoped<LocalMemoryTraits>;
using ScopedCoTaskMemory = Scoped<CoTaskMemoryTraits>;
using ScopedCryptProvider = Scoped<CryptProviderTraits>;
using ScopedCryptHash = Scoped<CryptHashTraits>;
using ScopedLibrary = Scoped<LibraryTraits>;
using ScopedGlobalMemory = Scoped<GlobalMemoryTraits>;
using ScopedCatalogAdmin = Scoped<CatalogAdminTraits>;
using ScopedCatalogContext = Scoped<CatalogContextTraits>;
using ScopedCertStore = Scoped<CertStoreTraits>;
using ScopedCryptMessage = Scoped<CryptMessageTraits>;
using ScopedCertContext = Scoped<CertContextTraits>;

}  // namespace osh
