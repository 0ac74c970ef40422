#pragma once
// Invariant checks for the fuzz targets: a broken invariant prints what broke
// and aborts, which libFuzzer reports as a crash and saves the input.

#include <QByteArray>
#include <QString>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, ...)                                                     \
    do {                                                                          \
        if (!(cond)) {                                                            \
            std::fprintf(stderr, "\n*** invariant broken at %s:%d: %s\n", __FILE__, \
                         __LINE__, #cond);                                        \
            std::fprintf(stderr, "    " __VA_ARGS__);                             \
            std::fprintf(stderr, "\n");                                           \
            std::abort();                                                         \
        }                                                                         \
    } while (0)

namespace fuzzcheck {

// The window runs under the user's locale (QApplication sets it from the
// environment), so the targets do too: tools/fuzz picks one that writes
// numbers with a decimal comma when it can.
inline const bool kUserLocale = std::setlocale(LC_ALL, "") != nullptr;

inline QByteArray hex(const QByteArray &b) { return b.toHex(' '); }
inline QByteArray utf8(const QString &s) { return s.toUtf8(); }

}  // namespace fuzzcheck
