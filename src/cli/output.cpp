#include "cli/output.h"

#include "session/csv.h"

#include <QCoreApplication>

#include <cerrno>

namespace vorn::cli {

bool TextStream::write(const QString &text)
{
    const QByteArray b = text.toUtf8();
    errno = 0;
    const size_t n = std::fwrite(b.constData(), 1, size_t(b.size()), m_file);
    const bool flushed = std::fflush(m_file) == 0;
    const bool ok = n == size_t(b.size()) && flushed && !std::ferror(m_file);
    if (!ok && m_failure.isEmpty())
        m_failure = errno != 0 ? qt_error_string(errno) : QStringLiteral("EIO");
    return ok;
}

TextStream &standardOutput()
{
    static TextStream out(stdout);
    return out;
}

TextStream &standardError()
{
    static TextStream err(stderr);
    return err;
}

bool printOut(const QString &text)
{
    return standardOutput().write(text);
}

bool printErr(const QString &text)
{
    return standardError().write(QCoreApplication::applicationName() + QStringLiteral(": ") + text
                                 + QLatin1Char('\n'));
}

QString timestamp()
{
    return QString::fromLatin1(isoTimeNow());
}

}  // namespace vorn::cli
