// System and network information of CQarnUtilities, through real activation. The network cases
// talk only to a TCP server on 127.0.0.1 that the test runs itself on a thread of its own.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windns.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "util/TextRules.h"

using test::ComPtr;
using test::ScratchFolder;
using test::Str;
using test::ToWide;

namespace {

// Sets (or with null removes) a variable of the test process for one test; the DLL is
// in-process and so sees the change.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        std::wstring old(32768, L'\0');
        const DWORD n = GetEnvironmentVariableW(name, old.data(), static_cast<DWORD>(old.size()));
        if (n > 0 && n < old.size()) old_ = old.substr(0, n);
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

private:
    std::wstring name_;
    std::optional<std::wstring> old_;
};

class System : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    // The description of the last failure, without its "at" lines.
    static std::wstring Message() {
        std::wstring d = test::TakeErrorDescription();
        return d.substr(0, d.find(L"\n   at "));
    }
    test::Result Call(HRESULT (STDMETHODCALLTYPE IQarnUtilities::*method)(BSTR*)) {
        BSTR out = nullptr;
        const HRESULT hr = (u.Get()->*method)(&out);
        return test::Result(hr, out);
    }
    test::Result Env(const Str& name) {
        BSTR out = nullptr;
        const HRESULT hr = u->GetEnv(name, &out);
        return test::Result(hr, out);
    }
};

// "name=value" of every field, values as text; "name:vt" when `types` is set.
std::vector<std::wstring> Entries(IFieldCollection* c, bool types = false) {
    std::vector<std::wstring> out;
    long n = 0;
    if (!c || FAILED(c->get_Count(&n))) return out;
    for (long i = 1; i <= n; ++i) {
        ComPtr<IField> f;
        c->get_Item(i, &f);
        Str name, value;
        f->get_Name(name.Out());
        if (types) {
            test::Variant v;
            f->get_Value(v.Out());
            out.push_back(std::wstring(name.View()) + L":" + std::to_wstring(v.vt));
        } else {
            f->get_StringValue(value.Out());
            out.push_back(std::wstring(name.View()) + L"=" + std::wstring(value.View()));
        }
    }
    return out;
}

std::wstring Narrow2Wide(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

std::string Wide2Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool HasLowerCase(const std::wstring& s) {
    for (wchar_t c : s)
        if (IsCharLowerW(c)) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Environment, names, root directory and domain

TEST_F(System, GetEnvReadsTheProcessEnvironmentAndNeverFailsOnNames) {
    ScopedVariable set(L"QARN_SYSTEM_TEST", L"value with spaces \u00e4\u20ac");
    EXPECT_EQ(L"value with spaces \u00e4\u20ac", Env(Str(L"QARN_SYSTEM_TEST")).text);
    EXPECT_EQ(L"value with spaces \u00e4\u20ac", Env(Str(std::wstring(L"QARN_SYSTEM_TEST\0tail", 21))).text)
        << "the name ends at its first NUL";

    const std::wstring longValue(20000, L'v');
    ScopedVariable big(L"QARN_SYSTEM_LONG", longValue.c_str());
    EXPECT_EQ(longValue, Env(Str(L"QARN_SYSTEM_LONG")).text) << "values of any length come back whole";

    ScopedVariable unset(L"QARN_SYSTEM_UNSET", nullptr);
    const std::wstring hugeName(100000, L'n');
    for (const Str& name : {Str(L"QARN_SYSTEM_UNSET"), Str(nullptr), Str(L""), Str(hugeName), Str(L"=")}) {
        test::Result r = Env(name);
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_FALSE(r.null);
        EXPECT_EQ(L"", r.text);
    }
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetEnv(Str(L"PATH"), nullptr));
}

TEST_F(System, RootDirIsTheVariableOrElseTheWorkingDirectory) {
    {
        ScopedVariable root(L"QarnRootDir", L"D:\\Qarn\\Root");
        EXPECT_EQ(L"D:\\Qarn\\Root", Call(&IQarnUtilities::GetRootDir).text) << "no separator is appended";
    }
    ScratchFolder dir(L"rootdir");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()));
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    {
        ScopedVariable root(L"QarnRootDir", nullptr);
        EXPECT_EQ(std::wstring(current), Call(&IQarnUtilities::GetRootDir).text);
        EXPECT_NE(L'\\', Call(&IQarnUtilities::GetRootDir).text.back());
    }
    {
        ScopedVariable root(L"QarnRootDir", L"");
        EXPECT_EQ(std::wstring(current), Call(&IQarnUtilities::GetRootDir).text) << "an empty value counts as unset";
    }
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetRootDir(nullptr));
}

TEST_F(System, UserAndComputerNamesComeBackInUpperCase) {
    wchar_t user[256] = {}, computer[256] = {};
    DWORD size = 256;
    ASSERT_TRUE(GetUserNameW(user, &size));
    size = 256;
    ASSERT_TRUE(GetComputerNameW(computer, &size));

    test::Result u1 = Call(&IQarnUtilities::GetSystemUserName);
    ASSERT_EQ(S_OK, u1.hr);
    EXPECT_TRUE(SameIgnoringCase(user, u1.text)) << "the name of the calling thread's user";
    EXPECT_FALSE(HasLowerCase(u1.text));

    test::Result c1 = Call(&IQarnUtilities::GetSystemComputerName);
    ASSERT_EQ(S_OK, c1.hr);
    EXPECT_TRUE(SameIgnoringCase(computer, c1.text));
    EXPECT_FALSE(HasLowerCase(c1.text));

    EXPECT_EQ(DISP_E_EXCEPTION, u->GetSystemUserName(nullptr));
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetSystemComputerName(nullptr));
}

TEST_F(System, DomainFallsBackToUserDnsDomainAndReportsTheDnsStatus) {
    wchar_t primary[512] = {};
    DWORD size = sizeof primary;
    const DNS_STATUS status = DnsQueryConfig(DnsConfigPrimaryDomainName_W, 0, nullptr, nullptr, primary, &size);
    if (status == ERROR_SUCCESS && primary[0]) {
        ScopedVariable domain(L"USERDNSDOMAIN", L"ignored.example");
        EXPECT_EQ(std::wstring(primary), Call(&IQarnUtilities::GetDomain).text) << "the DNS answer comes first";
        GTEST_SKIP() << "this machine has a DNS domain: the fallback cannot be reached";
    }
    {
        ScopedVariable domain(L"USERDNSDOMAIN", L"corp.example.com");
        test::Result r = Call(&IQarnUtilities::GetDomain);
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_EQ(L"corp.example.com", r.text);
    }
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
        ScopedVariable domain(L"USERDNSDOMAIN", value);
        test::Result r = Call(&IQarnUtilities::GetDomain);
        EXPECT_EQ(DISP_E_EXCEPTION, r.hr);
        EXPECT_TRUE(r.null);
        const std::wstring code = qarn::Format(L"%08x", static_cast<unsigned>(status));
        EXPECT_EQ(L"Unable to query for domain name (0x" + code + L"). Variable USERDNSDOMAIN not set.", Message());
    }
}

// ---------------------------------------------------------------------------------------------
// Hardware addresses

TEST(HardwareAddress, SixOrEightBytesAsUpperCaseHexPairs) {
    using qarn::text::HardwareAddressText;
    const unsigned char bytes[16] = {0x00, 0x1a, 0x2B, 0xc3, 0xd4, 0xff, 0x07, 0x80, 0x11};
    EXPECT_EQ(L"00-1A-2B-C3-D4-FF", HardwareAddressText(bytes, 6).value_or(L"none"));
    EXPECT_EQ(L"00-1A-2B-C3-D4-FF-07-80", HardwareAddressText(bytes, 8).value_or(L"none"));
    for (size_t length : {0u, 1u, 5u, 7u, 9u, 16u}) EXPECT_FALSE(HardwareAddressText(bytes, length)) << length;
    EXPECT_FALSE(HardwareAddressText(nullptr, 6));
}

// The platform's adapter list, for comparison.
struct Adapter {
    std::vector<unsigned char> address;
    std::wstring description, friendlyName, dnsSuffix;
};
std::vector<Adapter> PlatformAdapters() {
    std::vector<Adapter> out;
    ULONG size = 0;
    GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size);
    std::vector<unsigned char> memory(size + 1);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(memory.data());
    if (size == 0 || GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, list, &size) != NO_ERROR)
        return out;
    for (auto* a = list; a; a = a->Next)
        out.push_back({std::vector<unsigned char>(a->PhysicalAddress, a->PhysicalAddress + a->PhysicalAddressLength),
                       a->Description ? a->Description : L"", a->FriendlyName ? a->FriendlyName : L"",
                       a->DnsSuffix ? a->DnsSuffix : L""});
    return out;
}

std::wstring NameOf(IStructure* s) {
    Str name;
    s->get_Name(name.Out());
    return std::wstring(name.View());
}

TEST_F(System, GetMACListsEveryAdapterWithAHardwareAddressAndDetailsOnlyOnRequest) {
    std::vector<Adapter> expected;
    std::vector<std::wstring> withoutAddress;  // the loopback adapter among them
    for (const Adapter& a : PlatformAdapters()) {
        if (a.address.size() == 6 || a.address.size() == 8)
            expected.push_back(a);
        else
            withoutAddress.push_back(L"FriendlyName=" + a.friendlyName);
    }
    const std::wregex pairs(L"[0-9A-F]{2}(-[0-9A-F]{2}){5}((-[0-9A-F]{2}){2})?");

    for (VARIANT_BOOL details : {VARIANT_FALSE, VARIANT_TRUE, static_cast<VARIANT_BOOL>(1)}) {
        SCOPED_TRACE(details);
        ComPtr<IStructureCollection> macs;
        ASSERT_EQ(S_OK, u->GetMAC(details, &macs));
        ASSERT_TRUE(macs) << "the collection is there even when it is empty";
        long count = -1;
        macs->get_Count(&count);
        ASSERT_EQ(static_cast<long>(expected.size()), count);
        for (long i = 1; i <= count; ++i) {
            ComPtr<IStructure> s;
            ASSERT_EQ(S_OK, macs->get_Item(i, &s));
            const Adapter& a = expected[static_cast<size_t>(i - 1)];
            const std::wstring name = NameOf(s.Get());
            EXPECT_TRUE(std::regex_match(name, pairs)) << name;
            EXPECT_EQ(a.address.size() * 3 - 1, name.size());
            EXPECT_EQ(qarn::text::HardwareAddressText(a.address.data(), a.address.size()).value_or(L""), name);
            ComPtr<IFieldCollection> fields;
            s->get_FieldCollection(&fields);
            if (details == VARIANT_TRUE) {
                EXPECT_EQ((std::vector<std::wstring>{L"Description=" + a.description,
                                                     L"FriendlyName=" + a.friendlyName,
                                                     L"DnsSuffix=" + a.dnsSuffix}),
                          Entries(fields.Get()));
                EXPECT_EQ((std::vector<std::wstring>{L"Description:8", L"FriendlyName:8", L"DnsSuffix:8"}),
                          Entries(fields.Get(), true));
                for (const std::wstring& other : withoutAddress) EXPECT_NE(other, Entries(fields.Get())[1]);
            } else {
                EXPECT_TRUE(Entries(fields.Get()).empty()) << "only VARIANT_TRUE asks for details";
            }
        }
    }
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetMAC(VARIANT_TRUE, nullptr));
}

// ---------------------------------------------------------------------------------------------
// Host names

TEST_F(System, GetHostByNameGivesFamilyLengthAddressesAndAliasesInThisOrder) {
    for (const Str& name : {Str(L"localhost"), Str(std::wstring(L"localhost\0.invalid", 18))}) {
        ComPtr<IFieldCollection> host;
        ASSERT_EQ(S_OK, u->GetHostByName(name, &host));
        ASSERT_TRUE(host);
        const std::vector<std::wstring> entries = Entries(host.Get()), types = Entries(host.Get(), true);
        ASSERT_GE(entries.size(), 3u);
        EXPECT_EQ(L"IntType=2", entries[0]);
        EXPECT_EQ(L"IntType:2", types[0]) << "a 16-bit integer";
        EXPECT_EQ(L"Length=4", entries[1]);
        EXPECT_EQ(L"Length:2", types[1]);
        bool loopback = false, aliases = false;
        for (size_t i = 2; i < entries.size(); ++i) {
            const bool ip = entries[i].rfind(L"IP=", 0) == 0;
            const bool alias = entries[i].rfind(L"Alias=", 0) == 0;
            EXPECT_TRUE(ip || alias) << entries[i];
            EXPECT_FALSE(ip && aliases) << "every address comes before the aliases";
            aliases = aliases || alias;
            loopback = loopback || entries[i] == L"IP=127.0.0.1";
            EXPECT_EQ(L":8", types[i].substr(types[i].find(L':'))) << "texts";
        }
        EXPECT_TRUE(loopback);
    }

    // A missing name is the empty one: the local computer.
    ComPtr<IFieldCollection> local;
    ASSERT_EQ(S_OK, u->GetHostByName(nullptr, &local));
    ASSERT_TRUE(local);
    EXPECT_EQ(L"IntType=2", Entries(local.Get())[0]);

    const std::wstring huge(100000, L'h');
    for (const Str& unknown : {Str(L"no-such-host.invalid"), Str(huge)}) {
        ComPtr<IFieldCollection> host;
        EXPECT_EQ(DISP_E_EXCEPTION, u->GetHostByName(unknown, &host));
        EXPECT_FALSE(host);
        EXPECT_EQ(L"Unable to retrieve network information.", Message());
    }
    EXPECT_EQ(DISP_E_EXCEPTION, u->GetHostByName(Str(L"localhost"), nullptr));
}

// ---------------------------------------------------------------------------------------------
// One request and one response over TCP, against a server of the test

class Winsock {
public:
    Winsock() { WSAStartup(MAKEWORD(2, 2), &data_); }
    ~Winsock() { WSACleanup(); }

private:
    WSADATA data_{};
};

// Waits up to `ms` for `s` to become readable.
bool Readable(SOCKET s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
}

// Reads until `count` bytes are there, then keeps reading while more arrive within a short pause
// (so that a stray byte behind the request is seen); never longer than about ten seconds.
std::string ReadRequest(SOCKET s, size_t count) {
    std::string bytes;
    char buffer[4096];
    for (int rounds = 0; rounds < 200; ++rounds) {
        if (!Readable(s, bytes.size() >= count ? 300 : 50)) {
            if (bytes.size() >= count) break;
            continue;
        }
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

// Ends our side and waits until the client has closed its socket.
void FinishAndDrain(SOCKET s) {
    shutdown(s, SD_SEND);
    char buffer[4096];
    while (Readable(s, 10000) && recv(s, buffer, sizeof buffer, 0) > 0) {
    }
}

// A one-connection server on 127.0.0.1 at a port the system picks. `serve` runs on the server's
// thread with the accepted connection; `accepted` tells whether a client came within the wait.
class LoopbackServer {
public:
    explicit LoopbackServer(std::function<void(SOCKET)> serve) : serve_(std::move(serve)) {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        local.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        listen(listener_, 1);
        int length = sizeof local;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        thread_.join();
        closesocket(listener_);
    }
    int port() const { return port_; }
    bool accepted() const { return accepted_; }

private:
    void Run() {
        for (int waited = 0; waited < 10000 && !stop_; waited += 50) {
            if (!Readable(listener_, 50)) continue;
            SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            accepted_ = true;
            serve_(client);
            closesocket(client);
            return;
        }
    }

    std::function<void(SOCKET)> serve_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false}, accepted_{false};
};

class Network : public System {
protected:
    Winsock winsock;

    test::Result Send(const Str& request, const Str& host, int port) {
        BSTR out = nullptr;
        const HRESULT hr = u->SendNetworkData(request, host, port, &out);
        return test::Result(hr, out);
    }
    // A port of 127.0.0.1 where nothing listens (bound once by the system, then given back).
    static int FreePort() {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
        int length = sizeof local;
        getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
        closesocket(s);
        return ntohs(local.sin_port);
    }
    static void ExpectEmptySuccess(const test::Result& r) {
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_FALSE(r.null);
        EXPECT_EQ(L"", r.text);
    }
};

TEST_F(Network, RequestGoesOutWithoutTerminatingZeroAndTheResponseComesBack) {
    const std::wstring request = L"GET status Gr\u00fc\u00dfe";
    const std::string requestBytes = Wide2Narrow(request);
    const std::string reply = "OK caf\xe9 100%";
    std::string received;
    {
        LoopbackServer server([&](SOCKET s) {
            received = ReadRequest(s, requestBytes.size());
            send(s, reply.data(), static_cast<int>(reply.size()), 0);
            FinishAndDrain(s);
        });
        test::Result r = Send(Str(request), Str(L"127.0.0.1"), server.port());
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_EQ(Narrow2Wide(reply), r.text) << "the response in the thread's ANSI code page";
    }
    EXPECT_EQ(requestBytes, received) << "the request's ANSI bytes, nothing behind them";

    // The port counts by its low 16 bits, so a negative number may still name it; the address
    // ends at its first NUL.
    {
        LoopbackServer server([&](SOCKET s) {
            received = ReadRequest(s, 4);
            send(s, "pong", 4, 0);
            FinishAndDrain(s);
        });
        test::Result r = Send(Str(L"ping"), Str(std::wstring(L"127.0.0.1\0x", 11)), server.port() - 65536);
        EXPECT_EQ(S_OK, r.hr);
        EXPECT_EQ(L"pong", r.text);
    }
    EXPECT_EQ("ping", received);

    // A missing request sends nothing, and the answer still comes back.
    {
        LoopbackServer server([&](SOCKET s) {
            received = ReadRequest(s, 0);
            send(s, "hello", 5, 0);
            FinishAndDrain(s);
        });
        EXPECT_EQ(L"hello", Send(Str(nullptr), Str(L"127.0.0.1"), server.port()).text);
    }
    EXPECT_EQ("", received);
}

TEST_F(Network, OnlyOneBoundedReceiveIsRead) {
    std::string flood(3 * 10240 + 17, '\0');
    for (size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<char>('a' + i % 26);
    LoopbackServer server([&](SOCKET s) {
        ReadRequest(s, 1);
        send(s, flood.data(), static_cast<int>(flood.size()), 0);
        FinishAndDrain(s);
    });
    test::Result r = Send(Str(L"x"), Str(L"127.0.0.1"), server.port());
    EXPECT_EQ(S_OK, r.hr);
    ASSERT_FALSE(r.text.empty());
    EXPECT_LE(r.text.size(), 10240u) << "one receive into a buffer of 10240 bytes";
    EXPECT_EQ(Narrow2Wide(flood.substr(0, r.text.size())), r.text);
}

TEST_F(Network, SocketFailuresGiveAnEmptyResponseAndSuccess) {
    {
        LoopbackServer server([&](SOCKET s) { ReadRequest(s, 5); });  // closes without a word
        ExpectEmptySuccess(Send(Str(L"hello"), Str(L"127.0.0.1"), server.port()));
        EXPECT_TRUE(server.accepted());
    }
    ExpectEmptySuccess(Send(Str(L"hello"), Str(L"127.0.0.1"), FreePort()));
    {
        LoopbackServer server([&](SOCKET s) { FinishAndDrain(s); });
        const std::wstring huge(100000, L'h');
        for (const Str& host : {Str(L"localhost"), Str(nullptr), Str(L""), Str(huge), Str(L"127.0.0.256")})
            ExpectEmptySuccess(Send(Str(L"hello"), host, server.port()));
        EXPECT_FALSE(server.accepted()) << "names are not resolved";
    }
    ExpectEmptySuccess(Send(Str(L"hello"), Str(L"127.0.0.1"), 0));
    EXPECT_EQ(DISP_E_EXCEPTION, u->SendNetworkData(Str(L"x"), Str(L"127.0.0.1"), FreePort(), nullptr));
}

// ---------------------------------------------------------------------------------------------
// Programs, windows and waiting

TEST_F(System, ExecStartsTheCommandLineAndReportsNoStartFailure) {
    ScratchFolder dir(L"exec");
    const std::wstring file = dir / L"started.txt";
    ASSERT_EQ(S_OK, u->Exec(Str(L"cmd /c echo x> \"" + file + L"\""), SW_HIDE));
    bool created = false;
    for (int i = 0; i < 300 && !created; ++i) {
        created = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!created) ::Sleep(100);
    }
    EXPECT_TRUE(created) << "the command ran";
    ::Sleep(200);  // let cmd finish writing before the folder goes

    const std::wstring huge(100000, L'c');
    for (const Str& command : {Str(nullptr), Str(L""), Str(L"no-such-program-qarn.exe"), Str(huge)})
        EXPECT_EQ(S_OK, u->Exec(command, SW_SHOW));
}

TEST_F(System, ShowWindowWithoutAMatchingWindowDoesNothingAndSucceeds) {
    const std::wstring huge(100000, L'w');
    EXPECT_EQ(S_OK, u->ShowWindow(nullptr, Str(L"QarnComConnector test: no window has this title"), SW_SHOW));
    EXPECT_EQ(S_OK, u->ShowWindow(Str(L"QarnNoSuchWindowClass"), nullptr, SW_SHOWNORMAL));
    EXPECT_EQ(S_OK, u->ShowWindow(Str(huge), Str(huge), SW_SHOW));
    EXPECT_EQ(S_OK, u->ShowWindow(Str(L""), Str(huge), -1));
    EXPECT_EQ(S_OK, u->ShowSAPWindow(SW_SHOW));
}

TEST_F(System, SleepBlocksAtLeastTheGivenTimeAndNegativeTimesDoNotWait) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, u->Sleep(250));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    // These return at all (a negative time read as unsigned would wait for weeks or forever).
    EXPECT_EQ(S_OK, u->Sleep(0));
    EXPECT_EQ(S_OK, u->Sleep(-1));
    EXPECT_EQ(S_OK, u->Sleep(LONG_MIN));
}

}  // namespace
