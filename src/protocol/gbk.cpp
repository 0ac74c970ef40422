#include "protocol/gbk.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QStringEncoder>

#include <atomic>

#ifdef Q_OS_WIN
#include "protocol/gbk_win.h"
#endif

namespace vorn {

namespace {

std::atomic<bool> g_forcedMissing{false};

// Qt names GBK only when it was built with ICU.
bool qtHasGbk()
{
    static const bool has = QStringEncoder("GBK").isValid() && QStringDecoder("GBK").isValid();
    return has;
}

// Stateless: an unfinished sequence at the end of the input (a lead byte
// without its second byte, a high surrogate without its partner) is an error
// here, not something kept for a next call that never comes.
constexpr auto kQtFlags = QStringConverter::Flag::Stateless;

std::optional<QByteArray> encodeWith(GbkConverter c, QStringView text)
{
    switch (c) {
    case GbkConverter::QtIcu: {
        QStringEncoder enc("GBK", kQtFlags);
        QByteArray out = enc.encode(text);
        if (enc.hasError())
            return std::nullopt;
        return out;
    }
    case GbkConverter::Windows:
#ifdef Q_OS_WIN
        if (const auto out = cp936::encode(text.toString().toStdWString()))
            return QByteArray::fromStdString(*out);
#endif
        return std::nullopt;
    case GbkConverter::Missing:
        break;
    }
    return std::nullopt;
}

std::optional<QString> decodeWith(GbkConverter c, QByteArrayView bytes)
{
    switch (c) {
    case GbkConverter::QtIcu: {
        QStringDecoder dec("GBK", kQtFlags);
        QString out = dec.decode(bytes);
        if (dec.hasError())
            return std::nullopt;
        return out;
    }
    case GbkConverter::Windows:
#ifdef Q_OS_WIN
        if (const auto out = cp936::decode(bytes.toByteArray().toStdString()))
            return QString::fromStdWString(*out);
#endif
        return std::nullopt;
    case GbkConverter::Missing:
        break;
    }
    return std::nullopt;
}

// A conversion counts only when it converts back to its input: no converter
// may slip a look-alike or a replacement character in unnoticed.
std::optional<QByteArray> encodeExact(GbkConverter c, QStringView text)
{
    auto bytes = encodeWith(c, text);
    if (bytes) {
        const auto back = decodeWith(c, *bytes);
        if (!back || *back != text)
            bytes.reset();
    }
    return bytes;
}

std::optional<QString> decodeExact(GbkConverter c, QByteArrayView bytes)
{
    auto text = decodeWith(c, bytes);
    if (text) {
        const auto back = encodeWith(c, *text);
        if (!back || *back != bytes)
            text.reset();
    }
    return text;
}

QString missingConverterText()
{
    return QCoreApplication::translate("vorn::Gbk",
                                       "缺少 GBK 编码转换器（本程序所用的 Qt 不含 ICU），无法转换 GBK 编码的文字。");
}

// Names the first character that has no GBK code, for the message.
QString unmappableText(GbkConverter c, QStringView text)
{
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QStringView one = text.mid(i, pair ? 2 : 1);
        if (!encodeExact(c, one)) {
            const char32_t code = pair ? QChar::surrogateToUcs4(one[0], one[1]) : one[0].unicode();
            const QString hex = QStringLiteral("U+%1").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper();
            if (one[0].isSurrogate() && !pair)
                return QCoreApplication::translate("vorn::Gbk", "文字中有残缺的字符（%1），无法用 GBK 编码表示。")
                    .arg(hex);
            return QCoreApplication::translate("vorn::Gbk", "字符“%1”（%2）无法用 GBK 编码表示。")
                .arg(one.toString(), hex);
        }
        i += one.size();
    }
    return QCoreApplication::translate("vorn::Gbk", "文字中有无法用 GBK 编码表示的字符。");
}

}  // namespace

GbkConverter gbkConverter()
{
    if (g_forcedMissing)
        return GbkConverter::Missing;
    if (qtHasGbk())
        return GbkConverter::QtIcu;
#ifdef Q_OS_WIN
    return GbkConverter::Windows;
#else
    return GbkConverter::Missing;
#endif
}

std::optional<QByteArray> toGbk(QStringView text, QString *why)
{
    const GbkConverter c = gbkConverter();
    if (c == GbkConverter::Missing) {
        if (why) *why = missingConverterText();
        return std::nullopt;
    }
    auto bytes = encodeExact(c, text);
    if (!bytes && why)
        *why = unmappableText(c, text);
    return bytes;
}

std::optional<QString> fromGbk(QByteArrayView bytes, QString *why)
{
    const GbkConverter c = gbkConverter();
    if (c == GbkConverter::Missing) {
        if (why) *why = missingConverterText();
        return std::nullopt;
    }
    auto text = decodeExact(c, bytes);
    if (!text && why)
        *why = QCoreApplication::translate("vorn::Gbk", "含有不是 GBK 编码的字节。");
    return text;
}

void forceMissingGbkConverter(bool missing)
{
    g_forcedMissing = missing;
}

}  // namespace vorn
