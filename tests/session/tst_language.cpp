// The language the programs speak: the choice given, or the system's first UI
// language; and that the texts then read in it, the built-in English
// translation loaded or none.

#include "protocol/rtxfile.h"
#include "session/language.h"
#include "session/messages.h"

#include <QTest>

using namespace vorn;

Q_DECLARE_METATYPE(vorn::Language)

class LanguageTest : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { installTranslations(QStringLiteral("zh")); }
    void choice_data();
    void choice();
    void textsReadInTheLanguage_data();
    void textsReadInTheLanguage();
    void aNewChoiceReplacesTheOld();
};

void LanguageTest::choice_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<Language>("language");
    const auto en = Language::English, zh = Language::Chinese;
    QTest::newRow("en on a Chinese system") << "en" << QStringList{"zh-CN"} << en;
    QTest::newRow("zh on an English system") << "zh" << QStringList{"en-US", "en"} << zh;
    QTest::newRow("EN, with blanks") << " EN " << QStringList{"de-DE"} << en;
    QTest::newRow("one it does not speak") << "fr" << QStringList{"en-US"} << zh;
    QTest::newRow("system: English") << "" << QStringList{"en-US", "en-Latn-US", "en"} << en;
    QTest::newRow("system: plain en") << "" << QStringList{"en"} << en;
    QTest::newRow("system: en_GB") << "" << QStringList{"en_GB"} << en;
    QTest::newRow("system: Chinese") << "" << QStringList{"zh-CN", "zh-Hans-CN", "zh"} << zh;
    QTest::newRow("system: Taiwanese") << "" << QStringList{"zh-TW"} << zh;
    QTest::newRow("system: German first, English second") << "" << QStringList{"de-DE", "en-US"} << zh;
    QTest::newRow("system: Chinese first, English second") << "" << QStringList{"zh-CN", "en-US"} << zh;
    QTest::newRow("system: Esperanto is not English") << "" << QStringList{"eo"} << zh;
    QTest::newRow("system: the C locale") << "" << QStringList{"C"} << zh;
    QTest::newRow("system: none") << "" << QStringList{} << zh;
}

void LanguageTest::choice()
{
    QFETCH(QString, choice);
    QFETCH(QStringList, uiLanguages);
    QFETCH(Language, language);
    QCOMPARE(chooseLanguage(choice, uiLanguages), language);
    QCOMPARE(installTranslations(choice, uiLanguages), language);
}

void LanguageTest::textsReadInTheLanguage_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("filter");
    const QString enMessage = QStringLiteral("The serial port is not open; the command was not sent.");
    const QString zhMessage = QStringLiteral("通讯端口没有打开，命令没有发送。");
    const QString enFilter = QStringLiteral("Configuration files (*.RTX)");
    const QString zhFilter = QStringLiteral("配置文件(*.RTX)");
    QTest::newRow("none installed") << "zh" << QStringList{"en-US"} << "zh" << zhMessage << zhFilter;
    QTest::newRow("--lang en") << "en" << QStringList{"zh-CN"} << "en" << enMessage << enFilter;
    QTest::newRow("--lang zh") << "zh" << QStringList{"en-US"} << "zh" << zhMessage << zhFilter;
    QTest::newRow("English system") << "" << QStringList{"en-GB"} << "en" << enMessage << enFilter;
    QTest::newRow("French system") << "" << QStringList{"fr-FR"} << "zh" << zhMessage << zhFilter;
}

void LanguageTest::textsReadInTheLanguage()
{
    QFETCH(QString, choice);
    QFETCH(QStringList, uiLanguages);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(QString, filter);
    QCOMPARE(languageCode(installTranslations(choice, uiLanguages)), code);
    QCOMPARE(msg::NotOpen(), message);
    QCOMPARE(rtxDialogFilter(), filter);
}

void LanguageTest::aNewChoiceReplacesTheOld()
{
    const QString zh = msg::NotOpen();
    QCOMPARE(installTranslations(QStringLiteral("en")), Language::English);
    const QString en = msg::NotOpen();
    QVERIFY(en != zh);
    QCOMPARE(installTranslations(QStringLiteral("zh")), Language::Chinese);
    QCOMPARE(msg::NotOpen(), zh);
    QCOMPARE(installTranslations(QStringLiteral("en")), Language::English);
    QCOMPARE(installTranslations(QStringLiteral("en")), Language::English);
    QCOMPARE(msg::NotOpen(), en);
    QCOMPARE(installTranslations(QStringLiteral("zh")), Language::Chinese);
    QCOMPARE(msg::NotOpen(), zh);
}

QTEST_GUILESS_MAIN(LanguageTest)
#include "tst_language.moc"
