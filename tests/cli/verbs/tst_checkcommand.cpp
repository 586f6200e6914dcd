// zelupdate-cli check: the summary of a HEX file worked out again from objcopy's image, and the
// verdict on files the loader refuses or warns about, the same as update's.

#include "CliFixture.h"
#include "CliRun.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UpdateTexts.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QtTest>

using sim::SimulatedDevices;

class CheckCommandTest : public CliFixture
{
    Q_OBJECT

private slots:

    void checkExamples_data();
    void checkExamples();
    void checkVerdicts_data();
    void checkVerdicts();
};

void CheckCommandTest::checkExamples_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("title");

    QTest::newRow("panel") << "panel" << 4096 << 64 << "ControlPanel";
    QTest::newRow("board") << "board" << 252 << 128 << "ZEL02 control board";
}

// The summary worked out again from objcopy's image, padded to the target's pages.
void CheckCommandTest::checkExamples()
{
    QFETCH(QString, target);
    QFETCH(int, pageCount);
    QFETCH(int, pageSize);
    QFETCH(QString, title);

    const QByteArray image =
        (target == QLatin1String("panel") ? panelImage : boardImage).left(pageCount * pageSize);
    int usedPages = 0;
    int dataBytes = 0;
    QStringList ranges;
    int runStart = -1;
    const int digits = QString::number(pageCount * pageSize - 1, 16).size();
    const auto hex = [digits](int address) {
        return QStringLiteral("0x%1").arg(address, digits, 16, QLatin1Char('0'));
    };
    for (int page = 0; page <= pageCount; ++page) {
        const int before = dataBytes;
        for (int at = page * pageSize; page < pageCount && at < (page + 1) * pageSize; ++at)
            dataBytes += image[at] != char(0xFF);
        const bool used = dataBytes > before;
        usedPages += used;
        if (used && runStart < 0)
            runStart = page;
        if (!used && runStart >= 0) {
            ranges << hex(runStart * pageSize) + '-' + hex(page * pageSize - 1);
            runStart = -1;
        }
    }
    const QString path = file(target);
    const QString expected =
        QStringLiteral("target: %2 (%3)\nfile: %1\nused pages: %4 of %5 (%6 bytes each)\n"
                       "data bytes: %7\nranges: %8\nsha256: %9\nend-of-file record: yes\n")
            .arg(path, target, title)
            .arg(usedPages)
            .arg(pageCount)
            .arg(pageSize)
            .arg(dataBytes)
            .arg(ranges.join(QStringLiteral(", ")),
                 QString::fromLatin1(
                     QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));

    const CliRun run = runCli({QStringLiteral("check"), QStringLiteral("--target"), target, path});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, expected);
    QCOMPARE(run.err, QString());
    QCOMPARE(SimulatedDevices::instance().openCount(), 0);
}

void CheckCommandTest::checkVerdicts_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("name"); // of the file, and as standard error shows it
    QTest::addColumn<QString>("shownName");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("err"); // all of standard error; %1 is the file as shown

    const QByteArray data = hexRecord(0, 0, QByteArray(16, '\x11'));
    const QByteArray end = hexRecord(0, 1, QByteArray());
    const QString cutShort = QStringLiteral("warning: %1\n").arg(kNoEndRecordWarning);
    const QString empty = QStringLiteral("%1: the file is empty: there is nothing to write\n");
    const QStringList none;
    const QStringList allowNoEof{QStringLiteral("--allow-no-eof")};
    const QString verdict = QStringLiteral("verdict.hex");

    QTest::newRow("good") << "board" << data + end << none << verdict << verdict << 0 << "";
    QTest::newRow("no end-of-file record")
        << "board" << data << none << verdict << verdict << 3
        << "%1: no end-of-file record after 1 lines; the file may have been cut short "
           "(--allow-no-eof to write it anyway)\n";
    QTest::newRow("no end-of-file record allowed")
        << "board" << data << allowNoEof << verdict << verdict << 0 << cutShort;
    QTest::newRow("no data") << "panel" << end << none << verdict << verdict << 0
                             << QStringLiteral("warning: %1\n").arg(kNoDataWarning);
    QTest::newRow("nothing at all")
        << "panel" << QByteArray() << none << verdict << verdict << 3 << empty;
    QTest::newRow("nothing at all allowed")
        << "panel" << QByteArray() << allowNoEof << verdict << verdict << 3 << empty;
    // 0x3fc00 is 0xfc00 in the fourth 64 KiB segment.
    QTest::newRow("image limit page")
        << "panel"
        << hexRecord(0, 4, QByteArray::fromHex("0003")) + hexRecord(0xFC00, 0, "ab") + end << none
        << verdict << verdict << 0 << QStringLiteral("warning: %1\n").arg(kLimitPageWarning);
    // Sixteen 0x11 at 0 sum to 0x120: the checksum is 0xE0, not 0.
    QTest::newRow("bad checksum") << "board" << data + data.left(41) + "00\n" + end << none
                                  << verdict << verdict << 3
                                  << "%1: Checksum Error line 2. Sum:E0 Check: 0\n";
    QTest::newRow("no colon") << "board" << data + data.mid(1) + end << none << verdict << verdict
                              << 3 << "%1: Error line 2. Expected a leading ':'\n";
    QTest::newRow("beyond the board")
        << "board" << hexRecord(0x7E00, 0, "ab") + end << none << verdict << verdict << 3
        << "%1: Memory address limit of 32256 bytes exceeded\n";
    QTest::newRow("cut in a record")
        << "board" << data + data.left(20) + '\n' + end << none << verdict << verdict << 3
        << "%1: Error line 2. Malformed record\n";
    // A name that would clear the screen and forge a line, escaped wherever it is shown.
    const QString forging = QStringLiteral("a\x1b[2J\tb\\\n\x7f.hex");
    const QString forgingShown = QStringLiteral("a\\x1b[2J\\tb\\\\\\n\\x7f.hex");
    QTest::newRow("name escaped") << "board" << data + end << none << forging << forgingShown << 0
                                  << "";
    QTest::newRow("name escaped, refused")
        << "board" << data + data.mid(1) + end << none << forging << forgingShown << 3
        << "%1: Error line 2. Expected a leading ':'\n";
}

void CheckCommandTest::checkVerdicts()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    QFETCH(QString, name);
    QFETCH(QString, shownName);
    QFETCH(int, code);
    QFETCH(QString, err);

    const QString path = folder.filePath(name);
    const QString shownPath = folder.filePath(shownName);
    QVERIFY(writeFile(path, content));
    const QStringList check =
        QStringList{QStringLiteral("check"), QStringLiteral("--target"), target, path} + options;
    const CliRun run = runCli(check);
    QCOMPARE(run.code, code);
    QCOMPARE(run.err, QString(err).replace(QStringLiteral("%1"), shownPath));
    QCOMPARE(run.out.isEmpty(), code != 0);
    if (code == 0)
        QVERIFY2(run.out.contains(QStringLiteral("\nfile: %1\n").arg(shownPath)),
                 qPrintable(run.out));

    const CliRun json = runCli(check + QStringList{QStringLiteral("--json")});
    QCOMPARE(json.code, code);
    bool allParse = false;
    const QList<QJsonObject> objects = jsonLines(json.out, allParse);
    QVERIFY(allParse);
    QCOMPARE(objects.size(), 1);
    QCOMPARE(objects[0].value(QStringLiteral("exitCode")).toInt(-1), code);
    QCOMPARE(objects[0].value(QStringLiteral("file")).toString(), path);
    QCOMPARE(objects[0].value(QStringLiteral("warnings")).toArray().size(),
             err.count(QStringLiteral("warning: ")));

    // The update gives the same verdict: it refuses what check refuses, and only that.
    QStringList update = check;
    update[0] = QStringLiteral("update");
    const CliRun updated = runCli(update);
    QCOMPARE(updated.code == kExitFileRefused, code == kExitFileRefused);
    QCOMPARE(SimulatedDevices::instance().reportCount() > 0, code != kExitFileRefused);
}

QTEST_GUILESS_MAIN(CheckCommandTest)
#include "tst_checkcommand.moc"
