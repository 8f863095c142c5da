#ifndef OSTREL_TESTS_HARNESS_FAILURES_H
#define OSTREL_TESTS_HARNESS_FAILURES_H

#include "OstrelData/Exception.h"

namespace OstrelTest {

// Runs fn and returns the failure it threw (code 0 when none).
template <class F>
OstrelData::Exception failureOf(F fn)
{
    try {
        fn();
    } catch (const OstrelData::Exception& e) {
        return e;
    }
    return OstrelData::Exception();
}

} // namespace OstrelTest

#endif
