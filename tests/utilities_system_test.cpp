// System and network information of CQarnUtilities, through real activation. The network cases
// talk only to a TCP server on 127.0.0.1 that the test runs itself on a thread of its own.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windns.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "UtilitiesSupport.h"
#include "TextRules.h"

using qarn::FromAnsi;
using qarn::ToAnsi;
using namespace test;

namespace {

// The variant type of the field at a 1-based index.
VARTYPE TypeOf(IFieldCollection* c, long index) {
    ComPtr<IField> f;
    test::Variant value;
    return SUCCEEDED(c->get_Item(index, &f)) && f && SUCCEEDED(f->get_Value(value.Out())) ? value.vt : static_cast<VARTYPE>(VT_ILLEGAL);
}

void ExpectEmptySuccess(const test::Result& r) { EXPECT_TRUE(r.hr == S_OK && !r.null && r.text.empty()) << r.hr << ": " << r.text; }

class System : public ::testing::Test {
protected:
    ComPtr<IQarnUtilities> u = test::Create<IQarnUtilities>(CLSID_CQarnUtilities);

    // A method with a text result, given its arguments in front of the result.
    template <class Method, class... Args>
    test::Result Call(Method method, const Args&... args) {
        BSTR out = nullptr;
        const HRESULT hr = (u.Get()->*method)(args..., &out);
        return test::Result(hr, out);
    }
    test::Result Env(const Str& name) { return Call(&IQarnUtilities::GetEnv, name); }
    test::Result Send(const Str& request, const Str& host, int port) {
        return Call(&IQarnUtilities::SendNetworkData, request, host, port);
    }
};

TEST_F(System, EnvironmentRootDirAndUpperCaseNames) {
    // GetEnv reads the process environment and never fails on names.
    const std::wstring longValue(20000, L'v');
    ScopedVariable set(L"QARN_SYSTEM_TEST", L"value \u00e4\u20ac"), big(L"QARN_SYSTEM_LONG", longValue.c_str()),
        unset(L"QARN_SYSTEM_UNSET", nullptr);
    EXPECT_EQ(L"value \u00e4\u20ac", Env(Str(L"QARN_SYSTEM_TEST")).text);
    EXPECT_EQ(L"value \u00e4\u20ac", Env(Str(std::wstring(L"QARN_SYSTEM_TEST\0x", 18))).text) << "name ends at NUL";
    EXPECT_EQ(longValue, Env(Str(L"QARN_SYSTEM_LONG")).text);
    for (const Str& name : {Str(L"QARN_SYSTEM_UNSET"), Str(nullptr), Str(L"")}) ExpectEmptySuccess(Env(name));

    // The root folder is the variable QarnRootDir, else the working directory.
    test::ScratchFolder dir(L"rootdir");
    wchar_t previous[MAX_PATH] = {}, current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.path().c_str()) && GetCurrentDirectoryW(MAX_PATH, current));
    for (const wchar_t* value : {L"D:\\Qarn\\Root", L"", static_cast<const wchar_t*>(nullptr)}) {
        ScopedVariable root(L"QarnRootDir", value);
        EXPECT_EQ(std::wstring(value && *value ? value : current), Call(&IQarnUtilities::GetRootDir).text)
            << "the working directory without trailing backslash";
    }
    SetCurrentDirectoryW(previous);

    wchar_t user[256] = {}, computer[256] = {};
    DWORD userSize = 256, computerSize = 256;
    ASSERT_TRUE(GetUserNameW(user, &userSize) && GetComputerNameW(computer, &computerSize));
    // "root" under Wine: the upper-casing is seen.
    EXPECT_EQ(std::wstring(CharUpperW(user)), Call(&IQarnUtilities::GetSystemUserName).text);
    EXPECT_EQ(std::wstring(CharUpperW(computer)), Call(&IQarnUtilities::GetSystemComputerName).text);
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
        EXPECT_EQ(L"corp.example.com", Call(&IQarnUtilities::GetDomain).text);
    }
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
        ScopedVariable domain(L"USERDNSDOMAIN", value);
        EXPECT_EQ(qarn::Format(L"Unable to query for domain name (0x%08x). Variable USERDNSDOMAIN not set.", static_cast<unsigned>(status)),
                  Failure(Call(&IQarnUtilities::GetDomain).hr));
    }
}

TEST(HardwareAddress, SixOrEightBytesAsUpperCaseHexPairs) {
    using qarn::text::HardwareAddressText;
    const unsigned char bytes[16] = {0x00, 0x1a, 0x2B, 0xc3, 0xd4, 0xff, 0x07, 0x80};
    EXPECT_EQ(L"00-1A-2B-C3-D4-FF", HardwareAddressText(bytes, 6).value_or(L"none"));
    EXPECT_EQ(L"00-1A-2B-C3-D4-FF-07-80", HardwareAddressText(bytes, 8).value_or(L"none"));
    for (size_t length : {0u, 5u, 7u, 9u, 16u}) EXPECT_FALSE(HardwareAddressText(bytes, length)) << length;
    EXPECT_FALSE(HardwareAddressText(nullptr, 6));
}

TEST_F(System, GetMACListsAdaptersWithAHardwareAddressAndDetailsOnlyForTrue) {
    // The platform's answer, as "address|description|friendly name|suffix" per adapter with an address.
    ULONG size = 0;
    GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size);
    std::vector<unsigned char> memory(size + 1);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(memory.data());
    ASSERT_EQ(NO_ERROR, GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_PREFIX, nullptr, list, &size));
    auto text = [](const wchar_t* s) { return std::wstring(s ? s : L""); };
    std::vector<std::wstring> expected;
    for (auto* a = list; a; a = a->Next)
        if (auto address = qarn::text::HardwareAddressText(a->PhysicalAddress, a->PhysicalAddressLength))
            expected.push_back(*address + L"|Description=" + text(a->Description) + L"|FriendlyName=" +
                               text(a->FriendlyName) + L"|DnsSuffix=" + text(a->DnsSuffix));

    for (VARIANT_BOOL details : {VARIANT_TRUE, VARIANT_FALSE, static_cast<VARIANT_BOOL>(1)}) {
        ComPtr<IStructureCollection> macs;
        long count = -1;
        ASSERT_TRUE(SUCCEEDED(u->GetMAC(details, &macs)) && SUCCEEDED(macs->get_Count(&count)));
        std::vector<std::wstring> got;  // no entry for the loopback adapter
        for (long i = 1; i <= count; ++i) {
            ComPtr<IStructure> s;
            ComPtr<IFieldCollection> fields;
            Str name;
            macs->get_Item(i, &s);
            s->get_Name(name.Out());
            s->get_FieldCollection(&fields);
            got.emplace_back(name.View());
            for (const std::wstring& e : test::Entries(fields.Get())) got.back() += L"|" + e;
        }
        std::vector<std::wstring> want = expected;
        for (auto& w : want) w = details == VARIANT_TRUE ? w : w.substr(0, w.find(L'|'));
        EXPECT_EQ(want, got) << details;
    }
}

TEST_F(System, GetHostByNameGivesFamilyLengthThenAddressesAsTexts) {
    for (const Str& name : {Str(L"localhost"), Str(std::wstring(L"localhost\0.invalid", 18)), Str(nullptr)}) {
        ComPtr<IFieldCollection> host;
        ASSERT_EQ(S_OK, u->GetHostByName(name, &host)) << "a missing name asks for the local computer";
        const std::vector<std::wstring> entries = test::Entries(host.Get());
        ASSERT_GE(entries.size(), 3u);
        EXPECT_EQ(L"IntType=2|Length=4|IP=", entries[0] + L"|" + entries[1] + L"|" + entries[2].substr(0, 3));
        for (long i = 1; i <= 3; ++i) EXPECT_EQ(i < 3 ? VT_I2 : VT_BSTR, TypeOf(host.Get(), i)) << i;
        EXPECT_TRUE(name.IsNull() || std::find(entries.begin(), entries.end(), L"IP=127.0.0.1") != entries.end());
    }
    ComPtr<IFieldCollection> host;
    EXPECT_EQ(L"Unable to retrieve network information.", Failure(u->GetHostByName(Str(L"no-such-host.invalid"), &host)));
    EXPECT_FALSE(host);
}

// A one-connection server on 127.0.0.1 at a port the system picks (`listening` false: the port is
// only reserved). On its thread it accepts, sends `reply` and keeps what arrives until the client
// closes; without a reply it closes at once.
class LoopbackServer {
public:
    explicit LoopbackServer(std::optional<std::string> reply, bool listening = true) : reply_(std::move(reply)) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in local{AF_INET, 0, {}, {}};
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof local;
        bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
        port_ = ntohs(local.sin_port);
        if (listening && listen(listener_, 1) == 0) thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        request();
        closesocket(listener_);
        WSACleanup();
    }
    int port() const { return port_; }
    // What the client sent until it closed; read after the call returned.
    std::string request() {
        if (thread_.joinable()) thread_.join();
        return request_;
    }

private:
    static bool Readable(SOCKET s, int ms) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{ms / 1000, (ms % 1000) * 1000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }
    void Serve() {
        for (int waited = 0; !Readable(listener_, 50); waited += 50)
            if (stop_ || waited > 10000) return;
        SOCKET s = accept(listener_, nullptr, nullptr);
        if (reply_) {
            send(s, reply_->data(), static_cast<int>(reply_->size()), 0);
            shutdown(s, SD_SEND);
            char buffer[4096];
            for (int n; Readable(s, 10000) && (n = recv(s, buffer, sizeof buffer, 0)) > 0;) request_.append(buffer, n);
        }
        closesocket(s);
    }

    std::optional<std::string> reply_;
    std::string request_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

TEST_F(System, SendNetworkDataSendsTheRequestAndReadsOneBoundedResponse) {
    const std::wstring request = L"GET status Gr\u00fc\u00dfe";
    LoopbackServer server("OK caf\xe9 100%");
    EXPECT_EQ(FromAnsi("OK caf\xe9 100%"), Send(Str(request), Str(L"127.0.0.1"), server.port()).text);
    EXPECT_EQ(ToAnsi(request), server.request()) << "the ANSI bytes and nothing behind them";

    // The port counts by its low 16 bits; the address ends at its first NUL.
    LoopbackServer wrapped("pong");
    EXPECT_EQ(L"pong", Send(Str(L"ping"), Str(std::wstring(L"127.0.0.1\0x", 11)), wrapped.port() - 65536).text);
    EXPECT_EQ("ping", wrapped.request());

    LoopbackServer nothing("hello");
    EXPECT_EQ(L"hello", Send(Str(nullptr), Str(L"127.0.0.1"), nothing.port()).text);
    EXPECT_EQ("", nothing.request()) << "a missing request sends no bytes";

    // Only one receive of at most 10240 bytes is read.
    std::string flood(3 * 10240 + 17, '\0');
    for (size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<char>('a' + i % 26);
    LoopbackServer flooding(flood);
    const std::wstring part = Send(Str(L"x"), Str(L"127.0.0.1"), flooding.port()).text;
    EXPECT_TRUE(!part.empty() && part.size() <= 10240u) << part.size();
    EXPECT_EQ(FromAnsi(flood.substr(0, part.size())), part);

    // Socket failures give an empty response and success; host names are not resolved.
    LoopbackServer closing(std::nullopt), freePort("", false), unused("never");
    ExpectEmptySuccess(Send(Str(L"hello"), Str(L"127.0.0.1"), closing.port()));
    ExpectEmptySuccess(Send(Str(L"hello"), Str(L"127.0.0.1"), freePort.port()));
    ExpectEmptySuccess(Send(Str(L"hello"), Str(L"127.0.0.1"), 0));
    for (const Str& host : {Str(L"localhost"), Str(nullptr), Str(L""), Str(L"127.0.0.256")})
        ExpectEmptySuccess(Send(Str(L"hello"), host, unused.port()));
}

TEST_F(System, ExecStartsTheProgramAndSleepWaits) {
    test::ScratchFolder dir(L"exec");
    const std::wstring file = dir / L"started.txt";
    ASSERT_EQ(S_OK, u->Exec(Str(L"cmd /c echo x> \"" + file + L"\""), SW_HIDE));
    bool created = false;
    for (int i = 0; i < 300 && !created; ++i, ::Sleep(100))  // the pause also lets cmd finish writing before the folder goes
        created = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(created);

    // Sleep blocks at least the given time.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(S_OK, u->Sleep(250));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

}  // namespace
