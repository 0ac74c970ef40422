#pragma once
// Ahead of every test's own code (tests/CMakeLists.txt puts it into the
// tests' precompiled header, or -include's it). A QTRY_* wait whose condition
// does not come within its bound fails at its bound. Qt's macros would wait
// twice as long again, only to report by how much the bound was too short:
// a broken change then waits out three times every bound in the suite.

#include <QTest>

#undef QTRY_TIMEOUT_DEBUG_IMPL
#define QTRY_TIMEOUT_DEBUG_IMPL(expr, timeoutValue, step)

// For a file of end-to-end tests whose every test waits for a device's values
// with the same long bound: once two tests in a row have failed, each one
// after fails at once instead of waiting out that bound again. Called from the
// test class's init() and cleanup().
struct FailFastRun
{
    int failedInARow = 0;

    void init() const
    {
        if (failedInARow >= 2)
            QTest::qFail("the two tests before this one failed; not waiting out the same bounds again", __FILE__,
                         __LINE__);
    }
    void cleanup() { failedInARow = QTest::currentTestFailed() ? failedInARow + 1 : 0; }
};
