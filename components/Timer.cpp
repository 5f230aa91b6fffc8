// Timer and number generator.
#include "components/Timer.h"

#include "base/DataObjects.h"

using namespace qarn;

double CQarnTimer::ClockReading() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns units since 1601
    ULONGLONG ms = (t.QuadPart - kUnixEpoch) / 10000ULL;
    return static_cast<double>(ms / 1000ULL) + static_cast<double>(ms % 1000ULL) / 1000.0;
}

STDMETHODIMP CQarnTimer::start() {
    return MethodFrame(L"CQarnTimer::Start", [&] {
        startTime_ = ClockReading();
        running_ = VARIANT_TRUE;
    });
}

STDMETHODIMP CQarnTimer::Stop() {
    return MethodFrame(L"CQarnTimer::Stop", [&] {
        stopTime_ = ClockReading();
        running_ = VARIANT_FALSE;
    });
}

STDMETHODIMP CQarnTimer::GetTimeDiff(DOUBLE* diff) {
    return MethodFrame(L"CQarnTimer::GetTimeDiff", [&] {
        OutParam(diff) = running_ == VARIANT_TRUE ? ClockReading() - startTime_ : stopTime_ - startTime_;
    });
}

STDMETHODIMP CQarnTimer::IsRunning(VARIANT_BOOL* running) {
    return MethodFrame(L"CQarnTimer::IsRunning", [&] {
        OutParam(running) = running_;
    });
}

STDMETHODIMP CQarnNumberGenerator::Get1(BSTR prefix, LONG start, LONG end, IFieldCollection** numbers) {
    return MethodFrame(L"CQarnNumberGenerator::Get1", [&] {
        OutParam(numbers);
        const long long count = start <= end ? static_cast<long long>(end) - start + 1 : 0;
        if (count > kMaxRange)
            THROW_MESSAGE(Format(L"The range %ld to %ld holds %I64d numbers; at most %I64d can be generated at once.",
                                 static_cast<long>(start), static_cast<long>(end), count, kMaxRange));
        DataObjects objects;
        ComPtr<IFieldCollection> collection = objects.New<IFieldCollection>(CLSID_FieldCollection);
        const std::wstring_view head = View(prefix);
        for (long long i = 0; i < count; ++i) {
            const std::wstring text = std::wstring(head) + Format(L"%ld", static_cast<long>(start + i));
            CHECK_HR(collection->Add(objects.TextField(text, text).Get()));
        }
        *numbers = collection.Detach();
    });
}
