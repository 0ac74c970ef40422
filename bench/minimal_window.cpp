// The smallest Qt window program, Qt's own "Hello world!": one push button
// with a caption, shown, ending right after its first paint, the way vornrt8
// does with VORNRT8_EXIT_WHEN_SHOWN. Its start-up time is the yardstick for
// vornrt8's. (A window with no text at all would never load a font, which no
// real program with a caption can avoid.)
//
//   minimal_window              run, exit 0 after the first paint
//   minimal_window --qt-version print the Qt version the program runs with

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QPushButton>

#include <cstdio>
#include <cstring>

namespace {

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return false;
    }

private:
    bool m_done = false;
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--qt-version") == 0) {
        std::printf("%s\n", qVersion());
        return 0;
    }
    QApplication app(argc, argv);
    QPushButton window(QStringLiteral("Hello world!"));
    window.setWindowTitle(QStringLiteral("minimal"));
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}
