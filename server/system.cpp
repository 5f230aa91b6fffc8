// System and network information: members of CQarnUtilities.
#include "server/Utilities.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windns.h>

#include <direct.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

using namespace qarn;

namespace {

constexpr DWORD kNameCapacity = 2048;       // characters of the user and computer name buffers
constexpr DWORD kDomainBufferBytes = 1024;  // bytes of the DNS configuration answer
// Bytes of the one receive of SendNetworkData. The whole buffer is handed to recv: the response
// is converted by the received count, so no terminating zero needs a place behind the data.
constexpr int kResponseCapacity = 10240;
constexpr std::wstring_view kDomainReference = L"%USERDNSDOMAIN%";
constexpr wchar_t kSapWindowClass[] = L"SAP_FRONTEND_SESSION";

// Winsock 2.2 for the duration of one call.
class Winsock {
public:
    Winsock() {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
        if (started_) WSACleanup();
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    bool Started() const noexcept { return started_; }

private:
    bool started_ = false;
};

// A socket, closed on every path.
class Socket {
public:
    explicit Socket(SOCKET s) noexcept : s_(s) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    bool Valid() const noexcept { return s_ != INVALID_SOCKET; }
    operator SOCKET() const noexcept { return s_; }

private:
    SOCKET s_;
};

// The name a system query writes into a buffer of 2048 characters, in upper case; nullopt when the
// query fails.
template <class Query>
std::optional<std::wstring> UpperCaseName(Query query) {
    std::vector<wchar_t> buffer(kNameCapacity, L'\0');
    DWORD size = kNameCapacity;
    if (!query(buffer.data(), &size)) return std::nullopt;
    const DWORD length = static_cast<DWORD>(wcsnlen(buffer.data(), kNameCapacity));
    if (length > 0) CharUpperBuffW(buffer.data(), length);
    return std::wstring(buffer.data(), length);
}

// Text in the system's ANSI code page (the code page WinExec reads its command line in).
std::string ToSystemAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) ThrowLastError();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

// One request and one response over TCP. Every failing step ends the exchange with an empty
// response; no timeouts are set, so connect and recv wait as long as the platform lets them.
std::string Exchange(const std::string& request, const std::string& host, int port) {
    Winsock winsock;
    if (!winsock.Started()) return {};
    // Only dotted IPv4 addresses: names are not resolved, and nothing is tried without an address.
    const unsigned long address = inet_addr(host.c_str());
    if (host.empty() || address == INADDR_NONE) return {};
    Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.Valid()) return {};
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(port));  // the low 16 bits are the port
    peer.sin_addr.s_addr = address;
    if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) return {};
    // The request's bytes without a terminating zero.
    if (send(s, request.data(), static_cast<int>(request.size()), 0) == SOCKET_ERROR) return {};
    std::string response(kResponseCapacity, '\0');
    const int received = recv(s, response.data(), kResponseCapacity, 0);
    if (received <= 0) return {};
    response.resize(static_cast<size_t>(received));
    return response;
}

// What gethostbyname found, copied before Winsock is stopped (the answer belongs to Winsock).
struct HostEntry {
    short family = 0;
    short length = 0;
    std::vector<std::string> addresses;
    std::vector<std::string> aliases;
};

HostEntry CopyHostEntry(const hostent& host) {
    HostEntry entry;
    entry.family = host.h_addrtype;
    entry.length = host.h_length;
    if (host.h_addrtype == AF_INET && host.h_length == sizeof(in_addr) && host.h_addr_list) {
        for (char** a = host.h_addr_list; *a; ++a) {
            in_addr address{};
            memcpy(&address, *a, sizeof address);
            const char* dotted = inet_ntoa(address);
            entry.addresses.emplace_back(dotted ? dotted : "");
        }
    }
    if (host.h_aliases) {
        for (char** alias = host.h_aliases; *alias; ++alias) entry.aliases.emplace_back(*alias);
    }
    return entry;
}

Variant ShortValue(short value) {
    Variant v;
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}

std::wstring_view TextOrEmpty(const wchar_t* s) { return s ? std::wstring_view(s) : std::wstring_view(); }

}  // namespace

STDMETHODIMP CQarnUtilities::GetEnv(BSTR variable, BSTR *value) {
    return MethodFrame(L"CQarnUtilities::GetEnv", [&] {
        OutParam(value);
        // A missing or empty name is a variable that is not set.
        // An empty name is never looked up (the system would answer with an arbitrary failure).
        const std::wstring name(Arg(variable).value_or(std::wstring_view()));
        *value = CopyBstr(std::wstring_view(name.empty() ? std::wstring() : EnvironmentValue(name.c_str()).value_or(L"")));
    });
}

STDMETHODIMP CQarnUtilities::GetSystemUserName(BSTR *userName) {
    return MethodFrame(L"CQarnUtilities::GetSystemUserName", [&] {
        OutParam(userName);
        const std::optional<std::wstring> name = UpperCaseName(GetUserNameW);
        if (!name) THROW_STORE_REPORT(L"M0005", L"Error getting user name");
        *userName = CopyBstr(std::wstring_view(*name));
    });
}

STDMETHODIMP CQarnUtilities::GetSystemComputerName(BSTR *computerName) {
    return MethodFrame(L"CQarnUtilities::GetSystemComputerName", [&] {
        OutParam(computerName);
        const std::optional<std::wstring> name = UpperCaseName(GetComputerNameW);
        if (!name) THROW_STORE_REPORT(L"M0006", L"Error getting computer name");
        *computerName = CopyBstr(std::wstring_view(*name));
    });
}

STDMETHODIMP CQarnUtilities::ShowWindow(BSTR className, BSTR windowName, int windowStyle) {
    return MethodFrame(L"CQarnUtilities::ShowWindow", [&] {
        // An empty class name or a missing title matches any window.
        const wchar_t* windowClass = className && className[0] ? className : nullptr;
        const HWND window = FindWindowW(windowClass, windowName);
        if (!window) return;
        SetForegroundWindow(window);
        ::ShowWindow(window, windowStyle);
        SetActiveWindow(window);
    });
}

STDMETHODIMP CQarnUtilities::ShowSAPWindow(int windowStyle) {
    return MethodFrame(L"CQarnUtilities::ShowSAPWindow",
                       [&] { CHECK_HR(ShowWindow(Bstr(kSapWindowClass), nullptr, windowStyle)); });
}

STDMETHODIMP CQarnUtilities::Sleep(LONG milliseconds) {
    return MethodFrame(L"CQarnUtilities::Sleep", [&] {
        // A negative time does not wait (as a DWORD it would be close to INFINITE).
        if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
    });
}

STDMETHODIMP CQarnUtilities::GetRootDir(BSTR *rootDir) {
    return MethodFrame(L"CQarnUtilities::GetRootDir", [&] {
        OutParam(rootDir);
        Bstr root;
        CHECK_HR(GetEnv(Bstr(L"QarnRootDir"), root.Out()));
        if (!root.IsEmpty()) {
            *rootDir = root.Detach();
            return;
        }
        // Returned as it is: callers add the separator themselves.
        const std::unique_ptr<wchar_t, decltype(&free)> current(_wgetcwd(nullptr, 0), &free);
        *rootDir = CopyBstr(current ? current.get() : L".\\");
    });
}

STDMETHODIMP CQarnUtilities::Exec(BSTR cmdLine, LONG cmdShow) {
    return MethodFrame(L"CQarnUtilities::Exec", [&] {
        const std::wstring_view command = Arg(cmdLine).value_or(std::wstring_view());
        if (command.empty()) return;
        // Whether the program started is not reported.
        WinExec(ToSystemAnsi(command).c_str(), static_cast<UINT>(cmdShow));
    });
}

STDMETHODIMP CQarnUtilities::GetDomain(BSTR *domain) {
    return MethodFrame(L"CQarnUtilities::GetDomain", [&] {
        OutParam(domain);
        std::vector<wchar_t> buffer(kDomainBufferBytes / sizeof(wchar_t), L'\0');
        DWORD size = kDomainBufferBytes;
        const DNS_STATUS status =
            DnsQueryConfig(DnsConfigPrimaryDomainName_W, 0, nullptr, nullptr, buffer.data(), &size);
        // A machine outside any DNS domain may answer with success and an empty name: that is no
        // domain either, and the variable is asked.
        const std::wstring_view primary(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
        if (status == ERROR_SUCCESS && !primary.empty()) {
            *domain = CopyBstr(primary);
            return;
        }
        // Unknown references stay as written, so an unchanged text means the variable is not set.
        Bstr resolved = dom::ResolveEnvironmentVariables(Bstr(kDomainReference));
        if (!resolved.IsEmpty() && resolved.View() != kDomainReference) {
            *domain = resolved.Detach();
            return;
        }
        THROW_REPORT(Format(L"Unable to query for domain name (0x%08x). Variable USERDNSDOMAIN not set.",
                             static_cast<unsigned>(status)));
    });
}

STDMETHODIMP CQarnUtilities::GetMAC(VARIANT_BOOL details, IStructureCollection **pData) {
    return MethodFrame(L"CQarnUtilities::GetMAC", [&] {
        OutParam(pData);
        ComPtr<IStructureCollection> result = objects_.New<IStructureCollection>(CLSID_StructureCollection);
        constexpr ULONG kFamily = AF_UNSPEC, kFlags = GAA_FLAG_INCLUDE_PREFIX;
        ULONG size = 0;
        GetAdaptersAddresses(kFamily, kFlags, nullptr, nullptr, &size);
        std::unique_ptr<unsigned char[]> memory;
        if (size > 0) {
            memory.reset(new (std::nothrow) unsigned char[size]);
            if (!memory) THROW_REPORT(L"Not enough memory.");
        }
        auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(memory.get());
        if (!adapters || GetAdaptersAddresses(kFamily, kFlags, nullptr, adapters, &size) != ERROR_SUCCESS) {
            *pData = result.Detach();
            return;
        }
        for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter; adapter = adapter->Next) {
            const std::optional<std::wstring> address =
                text::HardwareAddressText(adapter->PhysicalAddress, adapter->PhysicalAddressLength);
            if (!address) continue;
            ComPtr<IStructure> structure = objects_.New<IStructure>(CLSID_Structure);
            CHECK_HR(structure->put_Name(Bstr(std::wstring_view(*address))));
            CHECK_HR(result->Add(structure.Get()));
            if (details != VARIANT_TRUE) continue;
            ComPtr<IFieldCollection> fields;
            CHECK_HR(structure->get_FieldCollection(&fields));
            CHECK_HR(fields->SetValue(Bstr(L"Description"), Variant(TextOrEmpty(adapter->Description))));
            CHECK_HR(fields->SetValue(Bstr(L"FriendlyName"), Variant(TextOrEmpty(adapter->FriendlyName))));
            CHECK_HR(fields->SetValue(Bstr(L"DnsSuffix"), Variant(TextOrEmpty(adapter->DnsSuffix))));
        }
        *pData = result.Detach();
    });
}

STDMETHODIMP CQarnUtilities::GetHostByName(BSTR hostname, IFieldCollection **ppHostIPs) {
    return MethodFrame(L"CQarnUtilities::GetHostByName", [&] {
        OutParam(ppHostIPs);
        // A missing name is an empty one, which Winsock answers with the local computer.
        const std::string name = ToAnsi(Arg(hostname).value_or(std::wstring_view()));
        std::optional<HostEntry> entry;
        {
            Winsock winsock;
            if (!winsock.Started()) return;
            if (const hostent* host = gethostbyname(name.c_str())) entry = CopyHostEntry(*host);
        }
        if (!entry) THROW_REPORT(L"Unable to retrieve network information.");
        ComPtr<IFieldCollection> result = objects_.New<IFieldCollection>(CLSID_FieldCollection);
        CHECK_HR(result->SetValue(Bstr(L"IntType"), ShortValue(entry->family)));
        CHECK_HR(result->SetValue(Bstr(L"Length"), ShortValue(entry->length)));
        for (const std::string& address : entry->addresses)
            CHECK_HR(result->SetValue(Bstr(L"IP"), Variant(std::wstring_view(FromAnsi(address)))));
        for (const std::string& alias : entry->aliases)
            CHECK_HR(result->SetValue(Bstr(L"Alias"), Variant(std::wstring_view(FromAnsi(alias)))));
        *ppHostIPs = result.Detach();
    });
}

STDMETHODIMP CQarnUtilities::SendNetworkData(BSTR request, BSTR hostIp, int port, BSTR *ppResponse) {
    return MethodFrame(L"CQarnUtilities::SendNetworkData", [&] {
        OutParam(ppResponse);
        // A missing request sends no bytes; a missing address is no address (empty response).
        const std::string bytes = ToAnsi(Arg(request).value_or(std::wstring_view()));
        const std::string host = ToAnsi(Arg(hostIp).value_or(std::wstring_view()));
        *ppResponse = CopyBstr(std::wstring_view(FromAnsi(Exchange(bytes, host, port))));
    });
}
