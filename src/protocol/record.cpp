#include "protocol/record.h"

#include <QCoreApplication>

namespace vorn {

std::optional<QString> parseFeedbackRecord(const QByteArray &buf, int n)
{
    if (n < 3 || n > buf.size())
        return std::nullopt;
    const auto at = [&](int i) { return static_cast<uchar>(buf[i]); };
    if (at(0) != 'N' || at(n - 2) != '\r' || at(n - 1) != '\n')
        return std::nullopt;
    QString s;
    int i = 1;
    for (;;) {
        if (at(i) == ',') {
            s += QLatin1String("\r\n");
            ++i;
        }
        // The byte after a comma is taken as it is, comma or not.
        s += QChar(at(i));
        ++i;
        if (i > n - 2 || at(i) == '\r')
            break;
    }
    return s;
}

QString recordFlaw(const QByteArray &buf, int n)
{
    n = qMin(n, int(buf.size()));
    if (n < 3)
        return QCoreApplication::translate("vorn::Line", "太短：只有 %n 个字节", nullptr, n);
    if (buf[0] != 'N')
        return QCoreApplication::translate("vorn::Line", "不以 “N” 开头");
    if (buf[n - 2] != '\r' || buf[n - 1] != '\n')
        return QCoreApplication::translate("vorn::Line", "不以回车换行结尾");
    return {};
}

}  // namespace vorn
