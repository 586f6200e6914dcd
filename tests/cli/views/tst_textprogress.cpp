// An update's progress on standard error as zelupdate-cli writes it: one plain line a phase in a
// log, and a line redrawn in place, within the terminal's width, on a terminal.

#include "CliFixture.h"
#include "CliRun.h"
#include "SimulatedDevices.h"

#include <QtTest>

class TextProgressTest : public CliFixture
{
    Q_OBJECT

private slots:

    void progressLog_data();
    void progressLog();
};

void TextProgressTest::progressLog_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("columns");      // the terminal's width; 0: unknown
    QTest::addColumn<QString>("expected"); // %1 is the file

    QTest::newRow("board log") << "board" << false << 0
                               << "Updating the ZEL02 control board with %1\n"
                                  "Connecting to the ControlPanel\n"
                                  "ControlPanel at USB port 1-1, serial number CP1000\n"
                                  "Entering the bootloader\n"
                                  "Waiting for the bootloader\n"
                                  "Writing: 96 pages\n"
                                  "Verifying: 96 pages\n"
                                  "Leaving the bootloader\n"
                                  "The ZEL02 firmware has been updated\n";
    QTest::newRow("panel log") << "panel" << false << 0
                               << "Updating the ControlPanel with %1\n"
                                  "Connecting to the ControlPanel\n"
                                  "ControlPanel at USB port 1-1, serial number CP1000\n"
                                  "Entering the bootloader\n"
                                  "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                  "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                  "Writing: 1604 pages\n"
                                  "Verifying: 1604 pages\n"
                                  "Leaving the bootloader\n"
                                  "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                  "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                  "Checking the ControlPanel's application at USB port 1-1\n"
                                  "The ControlPanel firmware has been updated\n";
    // Each line redrawn after "\r\x1b[K"; the time left only appears once a unit is done and
    // depends on the clock, so the lines are compared as they stand at their end.
    QTest::newRow("board terminal") << "board" << true << 0
                                    << "Entering the bootloader\n"
                                       "Waiting for the bootloader: 100%\n"
                                       "Writing: 96/96 pages, 100%\n"
                                       "Verifying: 96/96 pages, 100%\n"
                                       "Leaving the bootloader\n"
                                       "The ZEL02 firmware has been updated\n";
    QTest::newRow("panel terminal") << "panel" << true << 0
                                    << "Entering the bootloader\n"
                                       "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                       "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                       "Writing: 1604/1604 pages, 100%\n"
                                       "Verifying: 1604/1604 pages, 100%\n"
                                       "Leaving the bootloader\n"
                                       "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                       "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                       "Checking the ControlPanel's application at USB port 1-1\n"
                                       "The ControlPanel firmware has been updated\n";
    // Every redraw fits within the width, short of its last column; the messages are not
    // progress and wrap as the terminal wraps them.
    QTest::newRow("board terminal, 20 columns") << "board" << true << 20
                                                << "Entering the bootlo\n"
                                                   "Waiting for the boo\n"
                                                   "Writing: 96/96 page\n"
                                                   "Verifying: 96/96 pa\n"
                                                   "Leaving the bootloa\n"
                                                   "The ZEL02 firmware has been updated\n";
}

void TextProgressTest::progressLog()
{
    QFETCH(QString, target);
    QFETCH(bool, terminal);
    QFETCH(int, columns);
    QFETCH(QString, expected);

    CliSetup setup;
    setup.errIsTerminal = terminal;
    setup.errColumns = columns;
    const QString path = file(target);
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), target, path}, setup);
    QCOMPARE(run.code, 0);
    if (!terminal) {
        QVERIFY(!run.err.contains(QLatin1Char('\r')));
        QCOMPARE(run.err, expected.arg(path));
        return;
    }
    // What the terminal shows: each line as its last redraw left it.
    QStringList shown;
    for (const QString &line : run.err.split(QLatin1Char('\n'))) {
        const QStringList redraws = line.split(QStringLiteral("\r\x1b[K"));
        shown << redraws.last();
        for (const QString &redraw : redraws.mid(1))
            QVERIFY2(columns == 0 || redraw.size() < columns, qPrintable(redraw));
    }
    QVERIFY2(shown.join(QLatin1Char('\n')).endsWith(expected), qPrintable(shown.join('\n')));
    if (columns > 0)
        return;
    // Pages were counted up on the way, with the time left.
    QVERIFY(run.err.contains(QStringLiteral("\r\x1b[KWriting: 1/")));
    QVERIFY(run.err.contains(QStringLiteral(" s left")));
}

QTEST_GUILESS_MAIN(TextProgressTest)
#include "tst_textprogress.moc"
