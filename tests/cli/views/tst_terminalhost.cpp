// The terminal front end of an update: what it says once a run, however many units it updates.

#include "CliStreams.h"
#include "CliTexts.h"
#include "TerminalHost.h"
#include "TextProgress.h"
#include "UpdateTexts.h"

#include <QTextStream>
#include <QtTest>

class TerminalHostTest : public QObject
{
    Q_OBJECT

private slots:
    void noLockFolderSaidOnce();
};

// Without a folder for lock files each update says so, but a run says it once, however many
// units it updates.
void TerminalHostTest::noLockFolderSaidOnce()
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    CliStreams io(outStream, errStream, false);
    TextProgress view(errStream, false);
    TerminalHost first({}, io, view);
    TerminalHost second({}, io, view);
    first.lockFolderMissing();
    second.lockFolderMissing();
    errStream.flush();
    QCOMPARE(err, QStringLiteral("warning: %1\n").arg(kNoLockFolderText));
}

QTEST_GUILESS_MAIN(TerminalHostTest)
#include "tst_terminalhost.moc"
