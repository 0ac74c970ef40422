// rt8ctl: the device session from the command line, for scripts on a bench or
// a production line. One command per run; see rt8ctl --help.

#include "cli/language.h"
#include "cli/output.h"
#include "ctl/controller.h"
#include "ctl/options.h"
#include "link/serialportline.h"
#include "session/language.h"
#include "session/linelog.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rt8ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNRT8_VERSION));
    // The line's log (dropped replies, a lost line) is for the window's
    // log; rt8ctl says what went wrong itself, in the language chosen.
    // QT_LOGGING_RULES, read after these rules, can bring it back.
    vorn::quietLineLog();
    // The language first: every message, those about the command line
    // included, comes in it.
    vorn::installTranslations(vorn::cli::languageChoice(app.arguments(), vorn::ctl::globalOptions()));

    const auto parsed = vorn::ctl::parseCommandLine(app.arguments(), QStringLiteral(VORNRT8_VERSION));
    if (!parsed.run) {
        vorn::cli::printOut(parsed.out);
        if (!parsed.err.isEmpty())
            vorn::cli::printErr(parsed.err);
        return parsed.exitCode;
    }
    // The line and the one session on it.
    const vorn::PortChoice choice = vorn::ctl::linePorts(parsed.invocation);
    vorn::SerialPortLine serialLine;
    vorn::NetworkLine networkLine;
    vorn::DeviceSession session(choice.map, &serialLine, &networkLine);
    vorn::ctl::Controller controller(parsed.invocation, choice, &networkLine, &session);
    return controller.run();
}
