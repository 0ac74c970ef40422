// Hostile texts in every field of every request: each request either sends a
// correct frame or refuses with a message and writes nothing.

#include "formfixture.h"

#include "app/widgets.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"

using namespace vorn;

namespace {

QStringList hostileTexts()
{
    return {QString(5000, QLatin1Char('9')),
            QString(300, QLatin1Char('-')),
            QStringLiteral("１２３"),
            QStringLiteral("😀"),
            QStringLiteral("固定开固定开"),
            QStringLiteral("--"),
            QStringLiteral("+-"),
            QStringLiteral("-"),
            QStringLiteral("1e309"),
            QStringLiteral("-1e309"),
            QStringLiteral("1e-400"),
            QStringLiteral("&HFFFFFFFF"),
            QStringLiteral("&H"),
            QStringLiteral("&O9"),
            QStringLiteral("   "),
            QStringLiteral("\t\n"),
            QStringLiteral(""),
            QStringLiteral("NaN"),
            QStringLiteral("inf"),
            QStringLiteral("1,5"),
            QStringLiteral("0x10"),
            QStringLiteral("\"quoted\""),
            QString(QChar(0)),
            QStringLiteral("2147483648"),
            QStringLiteral("-2147483649"),
            QStringLiteral("32767.5"),
            QStringLiteral("255.5")};
}

// Where each field is read, and which buttons read it.
struct Field { QString control; QStringList buttons; };

QList<Field> fields()
{
    QList<Field> f;
    const QStringList tableButtons = {QStringLiteral("SetCommand"), QStringLiteral("OkCommand(3)"),
                                      QStringLiteral("SaveSetCommand")};
    for (const char *col : {"LText", "HText", "DotText", "KGstText", "KGedText", "KGFormulaCombo"})
        f.append({QStringLiteral("%1(3)").arg(QLatin1String(col)), tableButtons});
    f.append({QStringLiteral("RsAddText(0)"), {QStringLiteral("CMD23Command"), QStringLiteral("CMD24Command")}});
    f.append({QStringLiteral("RsAddText(1)"), {QStringLiteral("CMD23Command"), QStringLiteral("CMD24Command")}});
    f.append({QStringLiteral("RsAddText(2)"), {QStringLiteral("CMD23Command"), QStringLiteral("CMD24Command")}});
    f.append({QStringLiteral("CMD23Text"), {QStringLiteral("CMD23Command")}});
    f.append({QStringLiteral("CMD24Text(0)"), {QStringLiteral("CMD24Command")}});
    f.append({QStringLiteral("CMD24Text(1)"), {QStringLiteral("CMD24Command")}});
    f.append({QStringLiteral("SanLongText"), {QStringLiteral("SetIDCommand")}});
    const QStringList all = {QStringLiteral("FindCommand"), QStringLiteral("SetIDCommand"),
                             QStringLiteral("OpenPowCommand"), QStringLiteral("SeTimeCommand"),
                             QStringLiteral("GetCommand(1)"), QStringLiteral("ReSetCommand"),
                             QStringLiteral("SM2TypeCommand(0)")};
    f.append({QStringLiteral("LedIDText"), all});
    f.append({QStringLiteral("RsCombo"), {QStringLiteral("OpenRs232Command")}});
    return f;
}

void place(FormFixture &f, const QString &control, const QString &text)
{
    QWidget *w = f.form->findChild<QWidget *>(control);
    QVERIFY2(w, qPrintable(control));
    if (auto *fe = qobject_cast<FilteredEdit *>(w))
        fe->setText(text);
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        e->setText(text.left(e->maxLength()));
    else if (auto *c = qobject_cast<QComboBox *>(w))
        c->setEditText(text);
    if (control == QLatin1String("LedIDText"))
        f.leaveNumber();
}

// A frame the device would take, and one that carries what the fields say.
void checkFrame(const FormFixture &f, const QByteArray &frame, const QString &button)
{
    QVERIFY2(vorn::checkFrame(frame, FrameLayout::Command).isFrame(), qPrintable(button + QLatin1String(": ") + QString::fromLatin1(frame.toHex(' '))));
    const quint8 address = quint8(frame[3]);
    if (button == QLatin1String("SetIDCommand"))
        QCOMPARE(address, quint8(0xFF));
    else
        QCOMPARE(address, f.session.ledId());
    if (button == QLatin1String("SetCommand")) {
        const auto payload = encodeTable(f.form->table());
        QVERIFY(payload);
        QCOMPARE(frame.mid(6, 100), *payload);
        for (int i = 0; i < kChannels; ++i) {
            const DecodedChannel d = decodeChannel(frame.constData() + 6 + 10 * i);
            QVERIFY(d.texts.dot.toInt() <= 3);
            QVERIFY(quint8(frame[6 + 10 * i + 2]) < 128);   // span fits 15 bits
        }
    }
    if (button == QLatin1String("CMD23Command")) {
        for (int i = 8; i < frame.size() - 2; ++i)
            QVERIFY(quint8(frame[i]) <= 9);
    }
}

}  // namespace

class HostileInputTest : public QObject
{
    Q_OBJECT
private slots:
    void everyFieldEveryRequest_data();
    void everyFieldEveryRequest();
};

void HostileInputTest::everyFieldEveryRequest_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("buttons");
    const QStringList texts = hostileTexts();
    QStringList every;
    for (const Field &fl : fields())
        for (const QString &b : fl.buttons)
            if (!every.contains(b))
                every.append(b);
    QTest::newRow("start texts send") << QString() << QString() << every;
    for (const Field &fl : fields())
        for (int k = 0; k < texts.size(); ++k)
            QTest::addRow("%s #%d", qPrintable(fl.control), k) << fl.control << texts[k] << fl.buttons;
}

void HostileInputTest::everyFieldEveryRequest()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QFETCH(QStringList, buttons);
    FormFixture f;
    f.dialogs.nextSave.clear();   // the save dialog is cancelled: nothing on disk
    // Raw readings for smart setting, so that OK can send when the row fits.
    f.button(QStringLiteral("GetCommand(1)"))->click();
    f.button(QStringLiteral("LCommand(3)"))->click();
    QByteArray p(20, '\0');
    p[6] = char(0x01);
    f.port.inject(buildReply(0x40, p));
    f.button(QStringLiteral("HCommand(3)"))->click();
    p[6] = char(0x10);
    f.port.inject(buildReply(0x40, p));

    const bool baseline = control.isEmpty();
    if (!baseline)
        place(f, control, text);
    for (const QString &b : buttons) {
        f.port.written.clear();
        f.dialogs.shown.clear();
        f.button(b)->click();
        if (b == QLatin1String("OpenRs232Command") || b == QLatin1String("SaveSetCommand")) {
            QCOMPARE(f.port.written.size(), 0);
            continue;
        }
        if (baseline)
            QVERIFY2(f.port.written.size() == 1, qPrintable(b + QLatin1String(" sends nothing at the start texts")));
        if (f.port.written.isEmpty()) {
            QVERIFY2(!f.dialogs.shown.isEmpty(), qPrintable(b + QLatin1String(" refused without a word")));
        } else {
            QCOMPARE(f.port.written.size(), 1);
            QVERIFY2(f.dialogs.shown.isEmpty() || b == QLatin1String("FindCommand"),
                     qPrintable(b + QLatin1String(" sent and complained")));
            checkFrame(f, f.port.written.first(), b);
        }
    }
}

QTEST_MAIN(HostileInputTest)
#include "tst_hostile.moc"
