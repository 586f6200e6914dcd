// zelupdate-cli's exit statuses: the one each way an update ends gives, as --help, the README and
// the man page list them, and the one a batch of units ends with, from each unit's own.

#include "ExitCodes.h"
#include "UnitsSummary.h"

#include <QtTest>

#include <vector>

class ExitCodesTest : public QObject
{
    Q_OBJECT

private slots:
    void exitCodeForEnd_data();
    void exitCodeForEnd();
    void allUnitsExitCode_data();
    void allUnitsExitCode();
};

Q_DECLARE_METATYPE(SequenceEnd)

void ExitCodesTest::exitCodeForEnd_data()
{
    QTest::addColumn<SequenceEnd>("end");
    QTest::addColumn<int>("code"); // as documented, not as the enum names it

    QTest::newRow("updated") << SequenceEnd::Updated << 0;
    QTest::newRow("failed while writing") << SequenceEnd::FailedWhileWriting << 1;
    // Nothing was written, but the target is in its bootloader: it must be updated again.
    QTest::newRow("file refused in the bootloader") << SequenceEnd::FileRefusedInBootloader << 1;
    // The command line always names a file: a sequence without one is a usage error.
    QTest::newRow("no file chosen") << SequenceEnd::NoFileChosen << 2;
    QTest::newRow("file refused") << SequenceEnd::FileRefused << 3;
    QTest::newRow("no ControlPanel") << SequenceEnd::NoControlPanel << 4;
    QTest::newRow("device not answering") << SequenceEnd::DeviceNotAnswering << 5;
    QTest::newRow("not back in its application") << SequenceEnd::NotBackInApplication << 6;
}

void ExitCodesTest::exitCodeForEnd()
{
    QFETCH(SequenceEnd, end);
    QFETCH(int, code);
    QCOMPARE(int(exitCodeFor(end)), code);
}

void ExitCodesTest::allUnitsExitCode_data()
{
    QTest::addColumn<QList<int>>("codes"); // each unit's, in port order
    QTest::addColumn<int>("code");

    QTest::newRow("none attached") << QList<int>() << 4;
    QTest::newRow("every unit updated") << QList<int>{0, 0, 0} << 0;
    // However late it comes, a unit that may hold an incomplete firmware decides.
    QTest::newRow("one incomplete") << QList<int>{5, 0, 6, 1} << 1;
    QTest::newRow("first failing by port") << QList<int>{0, 6, 5} << 6;
    QTest::newRow("a worker interrupted") << QList<int>{0, 130} << 130;
}

void ExitCodesTest::allUnitsExitCode()
{
    QFETCH(QList<int>, codes);
    QFETCH(int, code);
    QCOMPARE(::allUnitsExitCode(std::vector<int>(codes.begin(), codes.end())), code);
}

QTEST_GUILESS_MAIN(ExitCodesTest)
#include "tst_exitcodes.moc"
