// Timer, number generator and the adapter classes.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>

#include "TestSupport.h"

using test::ComPtr;

namespace {

// Waits by the clock (no sleeping on a busy CI machine is needed to be exact).
void WaitSeconds(double seconds) {
    ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (GetTickCount64() < until) Sleep(10);
}

double Diff(IQarnTimer* t) {
    double d = -1;
    EXPECT_EQ(S_OK, t->GetTimeDiff(&d));
    return d;
}

}  // namespace

TEST(Timer, MeasuresRunningAndStoppedIntervals) {
    auto timer = test::Create<IQarnTimer>(CLSID_CQarnTimer);
    VARIANT_BOOL running = 1;
    EXPECT_EQ(S_OK, timer->IsRunning(&running));
    EXPECT_EQ(VARIANT_FALSE, running);
    EXPECT_EQ(0.0, Diff(timer.Get()));

    ASSERT_EQ(S_OK, timer->start());
    timer->IsRunning(&running);
    EXPECT_EQ(VARIANT_TRUE, running);
    WaitSeconds(0.3);
    double whileRunning = Diff(timer.Get());
    EXPECT_GE(whileRunning, 0.25);
    EXPECT_LT(whileRunning, 5.0);

    ASSERT_EQ(S_OK, timer->Stop());
    double stopped = Diff(timer.Get());
    WaitSeconds(0.05);
    EXPECT_EQ(stopped, Diff(timer.Get())) << "a stopped timer keeps its value";
    EXPECT_GE(stopped, whileRunning);

    // A new start measures from the new start time.
    ASSERT_EQ(S_OK, timer->start());
    EXPECT_LT(Diff(timer.Get()), whileRunning);

    // Stop without start: the start time is still zero, so the difference is the clock itself.
    auto fresh = test::Create<IQarnTimer>(CLSID_CQarnTimer);
    fresh->Stop();
    EXPECT_NEAR(static_cast<double>(time(nullptr)), Diff(fresh.Get()), 2.0);

    EXPECT_EQ(DISP_E_EXCEPTION, timer->GetTimeDiff(nullptr));
    EXPECT_NE(std::wstring::npos, test::TakeErrorDescription().find(L"at CQarnTimer::GetTimeDiff"));
}

namespace {

std::vector<std::pair<std::wstring, std::wstring>> Fields(IFieldCollection* fc) {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    long count = 0;
    EXPECT_EQ(S_OK, fc->get_Count(&count));
    for (long i = 1; i <= count; ++i) {
        ComPtr<IField> f;
        EXPECT_EQ(S_OK, fc->get_Item(i, &f));
        BSTR name = nullptr, value = nullptr;
        f->get_Name(&name);
        f->get_StringValue(&value);
        out.emplace_back(test::ToWide(name), test::ToWide(value));
        SysFreeString(name);
        SysFreeString(value);
    }
    return out;
}

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

}  // namespace

TEST(NumberGenerator, ProducesEachNumberOfTheRange) {
    auto gen = test::Create<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator);
    BSTR prefix = SysAllocString(L"P-");
    ComPtr<IFieldCollection> fc;
    ASSERT_EQ(S_OK, gen->Get1(prefix, 8, 11, &fc));
    EXPECT_EQ((Pairs{{L"P-8", L"P-8"}, {L"P-9", L"P-9"}, {L"P-10", L"P-10"}, {L"P-11", L"P-11"}}), Fields(fc.Get()));

    ASSERT_EQ(S_OK, gen->Get1(prefix, 5, 5, fc.ReleaseAndGetAddressOf()));
    EXPECT_EQ((Pairs{{L"P-5", L"P-5"}}), Fields(fc.Get()));
    ASSERT_EQ(S_OK, gen->Get1(prefix, 6, 5, fc.ReleaseAndGetAddressOf()));
    EXPECT_TRUE(Fields(fc.Get()).empty());
    ASSERT_EQ(S_OK, gen->Get1(nullptr, -2, 0, fc.ReleaseAndGetAddressOf()));
    EXPECT_EQ((Pairs{{L"-2", L"-2"}, {L"-1", L"-1"}, {L"0", L"0"}}), Fields(fc.Get()));
    ASSERT_EQ(S_OK, gen->Get1(prefix, INT_MAX - 1, INT_MAX, fc.ReleaseAndGetAddressOf()));
    EXPECT_EQ(2u, Fields(fc.Get()).size()) << "the last 32-bit number ends the loop";
    SysFreeString(prefix);
}

TEST(NumberGenerator, RefusesHugeRangesAndNullResults) {
    auto gen = test::Create<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator);
    IFieldCollection* fc = reinterpret_cast<IFieldCollection*>(1);
    EXPECT_EQ(DISP_E_EXCEPTION, gen->Get1(nullptr, 0, INT_MAX, &fc));
    EXPECT_EQ(nullptr, fc);
    std::wstring text = test::TakeErrorDescription();
    EXPECT_NE(std::wstring::npos, text.find(L"at most 1000000")) << std::string(text.begin(), text.end());
    EXPECT_NE(std::wstring::npos, text.find(L"at CQarnNumberGenerator::Get1"));
    EXPECT_EQ(DISP_E_EXCEPTION, gen->Get1(nullptr, INT_MIN, INT_MAX, &fc));
    test::TakeErrorDescription();
    EXPECT_EQ(DISP_E_EXCEPTION, gen->Get1(nullptr, 1, 2, nullptr));
    EXPECT_EQ(0u, test::TakeErrorDescription().find(L"Unknown Error, code 0x80004003 (-2147467261)"));
}

TEST(Adapters, AcceptEveryCallAndLeaveOutputsAlone) {
    auto plm = test::Create<IQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface);
    auto search = test::Create<IQarnGenericSearchInterface>(CLSID_CQarnGenericSearchInterface);
    auto cad = test::Create<IQarnCommonCADAdapter>(CLSID_CQarnCommonCADAdapter);
    IQarnDocument* const marker = reinterpret_cast<IQarnDocument*>(0x1234);
    IQarnDocument* out = marker;
    EXPECT_EQ(S_OK, plm->LockObject(nullptr, nullptr));
    EXPECT_EQ(S_OK, plm->CheckOut(nullptr, &out));
    EXPECT_EQ(S_OK, plm->GetUser(&out));
    EXPECT_EQ(S_OK, plm->AddSessionParameter(nullptr));
    EXPECT_EQ(S_OK, search->StartSearch(nullptr, &out));
    EXPECT_EQ(S_OK, search->PutSearchDefaultValues(nullptr));
    EXPECT_EQ(S_OK, cad->Open(nullptr, &out));
    EXPECT_EQ(S_OK, cad->GetActiveDocument(nullptr));
    EXPECT_EQ(marker, out) << "an [out] pointer keeps what the caller put there";
    BSTR id = reinterpret_cast<BSTR>(0x5678);
    EXPECT_EQ(S_OK, cad->get_CadIdentifier(&id));
    EXPECT_EQ(reinterpret_cast<BSTR>(0x5678), id);

    // The CAD adapter is not dual; the other two are.
    ComPtr<IDispatch> disp;
    EXPECT_EQ(E_NOINTERFACE, cad.As(&disp));
    EXPECT_EQ(S_OK, plm.As(&disp));
    EXPECT_EQ(S_OK, search.As(&disp));
}
