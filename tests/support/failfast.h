#pragma once
// Ahead of every test's own code (tests/CMakeLists.txt puts it into the
// tests' precompiled header, or -include's it). A QTRY_* wait whose condition
// does not come within its bound fails at its bound. Qt's macros would wait
// twice as long again, only to report by how much the bound was too short:
// a broken change then waits out three times every bound in the suite.

#include <QTest>

#undef QTRY_TIMEOUT_DEBUG_IMPL
#define QTRY_TIMEOUT_DEBUG_IMPL(expr, timeoutValue, step)
