#pragma once
// Downloads come only from web servers: an update URL or item address that names a file,
// a network share, an FTP server or nothing at all would let a document or a key-store
// value point the engine at content no server of the publisher delivers. Free of Windows
// headers.
#include <string>

namespace osh {

// The scheme of an address (the letters before the first ':', lower-cased), or empty when
// it names none.
std::wstring AddressScheme(const std::wstring& url);

// Empty for an http or https address with a host (https only, unless PlainHttpAccepted);
// otherwise the line that refuses it, naming the scheme (or saying that there is none).
std::string WebAddressRefusal(const std::wstring& url);

// Whether plain http is accepted: a build with the tests on (or one allowed test servers)
// accepts it; a vendor build accepts https only, since the network may be anybody's.
bool PlainHttpAccepted();
// Test seam: changes the answer until called again; returns the previous one.
bool SetPlainHttpAccepted(bool accepted);

// True for an acceptable address; logs the refusal at error priority otherwise.
bool IsWebAddress(const std::wstring& url);

// Throws std::runtime_error with the refusal unless the address is acceptable.
void RequireWebAddress(const std::wstring& url);

}  // namespace osh
