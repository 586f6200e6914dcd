// Loads a few hundred generated HEX files and compares each image with what GNU objcopy and
// SRecord's srec_cat make of the same file, and each page map with a count over that image. Files
// whose records overlap are compared with the generator's own image instead, since the tools
// treat overlaps in their own ways. Both tools are required: without them the test fails.

#include "HexLoader.h"
#include "RandomHexFile.h"
#include "TestFiles.h"

#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

struct Outcome
{
    HexLoadResult result;
    FirmwareImage image;
    PageMap pageMap;
    std::uint32_t usedPages = 0;
};

struct Planned
{
    QString hexPath;
    QString objcopyPath;
    QString srecPath;
    RandomHexFile file;
};

QString firstDifference(const FirmwareImage &expected, const FirmwareImage &loaded)
{
    const auto at = std::mismatch(expected.cbegin(), expected.cend(), loaded.cbegin());
    if (at.first == expected.cend()) {
        return QString();
    }
    return QString("at 0x%1 expected %2, loaded %3")
        .arg(at.first - expected.cbegin(), 5, 16, QChar('0'))
        .arg(*at.first, 2, 16, QChar('0'))
        .arg(*at.second, 2, 16, QChar('0'));
}

} // namespace

Q_DECLARE_METATYPE(HexVariant)

class TestHexDifferential : public QObject
{
    Q_OBJECT

private slots:
    void matchesBinutilsAndSrecord_data();
    void matchesBinutilsAndSrecord();
    void cleanupTestCase() { qInfo("compared %d files in all", compared); }

private:
    int compared = 0;
};

void TestHexDifferential::matchesBinutilsAndSrecord_data()
{
    QTest::addColumn<HexVariant>("variant");
    QTest::addColumn<quint32>("firstStart");
    QTest::addColumn<int>("fileCount");

    QTest::newRow("control panel") << HexVariant::ControlPanel << 1000u << 250;
    QTest::newRow("control board") << HexVariant::ControlBoard << 2000u << 250;
}

void TestHexDifferential::matchesBinutilsAndSrecord()
{
    QFETCH(HexVariant, variant);
    QFETCH(quint32, firstStart);
    QFETCH(int, fileCount);
    const TargetProfile &profile =
        variant == HexVariant::ControlPanel ? kControlPanelProfile : kControlBoardProfile;

    const QString objcopy = QStandardPaths::findExecutable("objcopy");
    const QString srecCat = QStandardPaths::findExecutable("srec_cat");
    QVERIFY2(!objcopy.isEmpty(), "objcopy not found: install binutils");
    QVERIFY2(!srecCat.isEmpty(), "srec_cat not found: install srecord");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    dir.setAutoRemove(false); // a failure names a file; it stays for a look
    std::vector<Planned> planned;
    QByteArray script = "set -e\n";
    int withExtended = 0;
    int lowerCase = 0;
    int crLf = 0;
    for (int i = 0; i < fileCount; ++i) {
        Planned p;
        p.file = makeRandomHexFile(firstStart + quint32(i), variant, profile);
        p.hexPath = dir.filePath(QString("%1.hex").arg(i));
        QFile out(p.hexPath);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(p.file.text), qint64(p.file.text.size()));
        out.close();
        withExtended += p.file.addressRecords > 0;
        lowerCase += p.file.lowerCase;
        crLf += p.file.crLf;
        if (!p.file.overlapping) {
            p.objcopyPath = p.hexPath + ".objcopy";
            p.srecPath = p.hexPath + ".srec";
            script += QString("'%1' -I ihex -O binary --gap-fill 0xff '%2' '%3'\n"
                              "'%4' '%2' -Intel -fill 0xFF 0 %5 -o '%6' -Binary 2>/dev/null\n")
                          .arg(objcopy, p.hexPath, p.objcopyPath, srecCat)
                          .arg(kFirmwareImageSize)
                          .arg(p.srecPath)
                          .toUtf8();
        }
        planned.push_back(std::move(p));
    }

    // One shell for all conversions keeps the process start-up cost down.
    QProcess shell;
    shell.start("sh", {"-c", QString::fromUtf8(script)});
    QVERIFY(shell.waitForFinished(300000));
    QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0,
             shell.readAllStandardError().constData());

    auto outcome = std::make_unique<Outcome>();
    auto reference = std::make_unique<FirmwareImage>();
    int againstTools = 0;
    for (const Planned &p : planned) {
        std::FILE *file = std::fopen(QFile::encodeName(p.hexPath).constData(), "r");
        QVERIFY(file);
        outcome->result = loadHexImage(file, profile, variant, outcome->image, outcome->pageMap,
                                       outcome->usedPages);
        std::fclose(file);
        QVERIFY2(outcome->result.ok(), qPrintable(p.hexPath + ": " + outcome->result.message));

        if (p.file.overlapping) {
            *reference = *p.file.image;
            const QString modelDiff = firstDifference(*reference, outcome->image);
            QVERIFY2(modelDiff.isEmpty(), qPrintable(p.hexPath + " vs generator " + modelDiff));
        } else {
            // objcopy's output starts at the lowest address; srec_cat's at 0.
            const QByteArray fromObjcopy = readFile(p.objcopyPath);
            QCOMPARE(quint32(fromObjcopy.size()), p.file.end - p.file.lowest);
            reference->fill(0xFF);
            std::copy(fromObjcopy.cbegin(), fromObjcopy.cend(), reference->begin() + p.file.lowest);
            const QString objcopyDiff = firstDifference(*reference, outcome->image);
            QVERIFY2(objcopyDiff.isEmpty(), qPrintable(p.hexPath + " vs objcopy " + objcopyDiff));

            const QByteArray fromSrec = readFile(p.srecPath);
            QCOMPARE(quint32(fromSrec.size()), kFirmwareImageSize);
            std::copy(fromSrec.cbegin(), fromSrec.cend(), reference->begin());
            const QString srecDiff = firstDifference(*reference, outcome->image);
            QVERIFY2(srecDiff.isEmpty(), qPrintable(p.hexPath + " vs srec_cat " + srecDiff));
            ++againstTools;
        }

        std::uint32_t used = 0;
        for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
            const auto first = reference->cbegin() + page * profile.pageSize;
            const auto count =
                std::count_if(first, first + profile.pageSize, [](quint8 b) { return b != 0xFF; });
            QCOMPARE(outcome->pageMap[page], std::uint32_t(count));
            used += count != 0;
        }
        QCOMPARE(outcome->usedPages, used);
        ++compared;
    }
    qInfo("%s: compared %d files, %d with objcopy and srec_cat, %d with the generator's image "
          "(%d with address records, %d lower case, %d with CR LF)",
          QTest::currentDataTag(), fileCount, againstTools, fileCount - againstTools, withExtended,
          lowerCase, crLf);
    dir.remove();
}

QTEST_GUILESS_MAIN(TestHexDifferential)
#include "tst_hexdifferential.moc"
