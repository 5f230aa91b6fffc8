// CQarnTimer: a stopwatch for scripts, in seconds of wall-clock time.
#pragma once

#include "base/ConnectorInterfaces.h"

class CQarnTimer : public qarn::ComObject<CQarnTimer, IQarnTimer> {
public:
    STDMETHODIMP start() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP GetTimeDiff(DOUBLE* diff) override;
    STDMETHODIMP IsRunning(VARIANT_BOOL* running) override;

    // Seconds since 1970-01-01 00:00 UTC with millisecond resolution; follows the system clock.
    static double ClockReading();

private:
    double startTime_ = 0.0;
    double stopTime_ = 0.0;
    VARIANT_BOOL running_ = VARIANT_FALSE;
};

// CQarnNumberGenerator: numbered names (a prefix and each number of a range) as fields.
class CQarnNumberGenerator : public qarn::ComObject<CQarnNumberGenerator, IQarnNumberGenerator> {
public:
    // The largest range Get1 produces; a larger one is refused instead of running for minutes.
    static constexpr long long kMaxRange = 1000000;

    STDMETHODIMP Get1(BSTR prefix, LONG start, LONG end, IFieldCollection** numbers) override;
};
