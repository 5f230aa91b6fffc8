// Timer, number generator and the adapter classes. The scripts objects.* enumerate the generator's
// numbers late-bound; these are the readings, limits and failures.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>

#include "TestSupport.h"
#include "UtilitiesSupport.h"

using test::ComPtr;

namespace {

double Diff(IQarnTimer* t) {
    double d = -1;
    EXPECT_EQ(S_OK, t->GetTimeDiff(&d));
    return d;
}

bool Running(IQarnTimer* t) {
    VARIANT_BOOL running = 2;
    EXPECT_EQ(S_OK, t->IsRunning(&running));
    return running == VARIANT_TRUE;
}

}  // namespace

TEST(Timer, MeasuresFromTheLastStartAndWithoutStartFromZero) {
    auto timer = test::Create<IQarnTimer>(CLSID_CQarnTimer);
    EXPECT_EQ(0.0, Diff(timer.Get()));
    EXPECT_FALSE(Running(timer.Get()));
    ASSERT_EQ(S_OK, timer->start());
    EXPECT_TRUE(Running(timer.Get()));
    for (const ULONGLONG until = GetTickCount64() + 300; GetTickCount64() < until;) Sleep(10);
    ASSERT_EQ(S_OK, timer->Stop());
    EXPECT_FALSE(Running(timer.Get()));
    const double stopped = Diff(timer.Get());
    EXPECT_GE(stopped, 0.25);
    EXPECT_LT(stopped, 5.0);
    Sleep(50);
    EXPECT_EQ(stopped, Diff(timer.Get())) << "a stopped timer keeps its reading";
    ASSERT_EQ(S_OK, timer->start());
    EXPECT_LT(Diff(timer.Get()), stopped) << "a new start measures from the new start time";

    // Stop without start: the start time is still zero, so the difference is the clock itself.
    auto fresh = test::Create<IQarnTimer>(CLSID_CQarnTimer);
    fresh->Stop();
    EXPECT_NEAR(static_cast<double>(time(nullptr)), Diff(fresh.Get()), 2.0);
}

TEST(NumberGenerator, RangesUpToTheLastNumberAndRefusals) {
    auto gen = test::Create<IQarnNumberGenerator>(CLSID_CQarnNumberGenerator);
    ComPtr<IFieldCollection> fc;
    ASSERT_EQ(S_OK, gen->Get1(nullptr, -2, 0, &fc));
    EXPECT_EQ((std::vector<std::wstring>{L"-2=-2", L"-1=-1", L"0=0"}), test::Entries(fc.Get()));
    ASSERT_EQ(S_OK, gen->Get1(test::Str(L"N-"), 5, 4, fc.ReleaseAndGetAddressOf()));
    EXPECT_TRUE(fc && test::Entries(fc.Get()).empty()) << "an empty range gives an empty collection";
    ASSERT_EQ(S_OK, gen->Get1(test::Str(L"P-"), INT_MAX - 1, INT_MAX, fc.ReleaseAndGetAddressOf()));
    EXPECT_EQ(2u, test::Entries(fc.Get()).size()) << "the last 32-bit number ends the loop";

    IFieldCollection* none = reinterpret_cast<IFieldCollection*>(1);
    EXPECT_EQ(DISP_E_EXCEPTION, gen->Get1(nullptr, INT_MIN, INT_MAX, &none));
    EXPECT_EQ(nullptr, none);
    const std::wstring text = test::TakeErrorDescription();
    EXPECT_NE(std::wstring::npos, text.find(L"at most 1000000")) << std::string(text.begin(), text.end());
    EXPECT_NE(std::wstring::npos, text.find(L"at CQarnNumberGenerator::Get1"));
}

TEST(Adapters, AcceptEveryCallAndLeaveOutputsAlone) {
    auto plm = test::Create<IQarnGenericPlmInterface>(CLSID_CQarnGenericPlmInterface);
    auto search = test::Create<IQarnGenericSearchInterface>(CLSID_CQarnGenericSearchInterface);
    auto cad = test::Create<IQarnCommonCADAdapter>(CLSID_CQarnCommonCADAdapter);
    IQarnDocument* const marker = reinterpret_cast<IQarnDocument*>(0x1234);
    IQarnDocument* out = marker;
    // The members are all the same empty bodies: one call with an [out] document is enough.
    EXPECT_EQ(S_OK, plm->CheckOut(nullptr, &out));
    EXPECT_EQ(S_OK, cad->GetActiveDocument(nullptr)) << "a null [out] pointer is no failure";
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
