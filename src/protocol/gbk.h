#pragma once
// Text in GBK (code page 936), the code page of the configuration files.
//
// Both directions are strict: a character GBK cannot hold refuses the whole
// text rather than turning into '?', and bytes that are not GBK refuse the
// whole input rather than turning into U+FFFD. What is accepted converts back
// to exactly the input.
//
// The converter is Qt's own when Qt was built with ICU, otherwise the Windows
// code page 936 conversion on Windows. Without either every conversion is
// refused with a message naming the missing converter.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

namespace vorn {

enum class GbkConverter { QtIcu, Windows, Missing };
GbkConverter gbkConverter();

// nullopt (and *why) when a character has no GBK code or no converter exists.
std::optional<QByteArray> toGbk(QStringView text, QString *why = nullptr);
// nullopt (and *why) when the bytes are not GBK or no converter exists.
std::optional<QString> fromGbk(QByteArrayView bytes, QString *why = nullptr);

// For tests: while true, conversions behave as in a build without any GBK
// converter.
void forceMissingGbkConverter(bool missing);

}  // namespace vorn
