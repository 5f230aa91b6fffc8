// The property check of the fuzz targets: a broken property ends the run as a finding.
#pragma once

#include <cstdlib>

inline void Require(bool ok) {
    if (!ok) std::abort();
}
