#include "CliFixture.h"

#include "CliRun.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QtTest>

#include <unistd.h>

using sim::SimulatedDevices;

const QString kExamples = QStringLiteral(ZELUPDATE_EXAMPLES_DIR);
const QString kForgingName = QStringLiteral("forged\nexit code: 0\n\x1b[1A");
const QString kForgingShown = QStringLiteral("forged\\nexit code: 0\\n\\x1b[1A");
const QString kNotUtf8Name = QStringLiteral("not utf-8");
const QString kOverlongName = QStringLiteral("overlong");

namespace {

const QByteArray kNotUtf8Bytes("board-\xe5\xff.hex");
const QByteArray kOverlongBytes("fw\xe0\x80\xaf.hex");

} // namespace

QByteArray panelFlash()
{
    return QByteArray(
        reinterpret_cast<const char *>(SimulatedDevices::instance().panelFlash().data()),
        int(sim::kPanelFlashSize));
}

QByteArray boardFlash()
{
    return QByteArray(
        reinterpret_cast<const char *>(SimulatedDevices::instance().boardFlash().data()),
        int(sim::kBoardFlashSize));
}

QList<QJsonObject> jsonLines(const QString &stream, bool &allParse)
{
    QList<QJsonObject> objects;
    allParse = stream.endsWith(QLatin1Char('\n'));
    for (const QString &line : stream.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        allParse = allParse && error.error == QJsonParseError::NoError && document.isObject();
        objects << document.object();
    }
    return objects;
}

void CliFixture::initTestCase()
{
    QVERIFY(folder.isValid());
    // The sequence adds to the history; never to the user's own. Its locks are this test's.
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    qputenv("ZELUPDATE_LOCK_DIR", folder.filePath(QStringLiteral("locks")).toUtf8());

    panelImage = objcopyImage(file(QStringLiteral("panel")), int(sim::kPanelFlashSize));
    boardImage = objcopyImage(file(QStringLiteral("board")), int(sim::kBoardFlashSize));
    QVERIFY2(!panelImage.isEmpty() && !boardImage.isEmpty(),
             "objcopy (binutils) makes the images the flash is compared with");

    // The example's lines end in CR LF; the copies made here in LF, which the loader takes too.
    QList<QByteArray> lines =
        readFile(file(QStringLiteral("board"))).replace("\r\n", "\n").split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // the file ends with a line feed
    QCOMPARE(lines.size(), 769);
    QCOMPARE(lines.last(), QByteArray(":00000001FF"));
    // A checksum off by one in line 100.
    QList<QByteArray> damaged = lines;
    QByteArray &line = damaged[99];
    line.chop(2);
    line += QByteArray::number((lines[99].right(2).toInt(nullptr, 16) + 1) & 0xFF, 16)
                .rightJustified(2, '0')
                .toUpper();
    QVERIFY(writeFile(file(QStringLiteral("damaged")), damaged.join('\n') + '\n'));
    lines.removeLast();
    QVERIFY(writeFile(file(QStringLiteral("noeof")), lines.join('\n') + '\n'));

    // The ControlPanel's example cut to its first 1600 lines (400 pages): a walk of about a second
    // at the pace of zelupdate-cli-sim, for the process tests that need a walk but not a long one.
    const QList<QByteArray> panelLines =
        readFile(file(QStringLiteral("panel"))).replace("\r\n", "\n").split('\n');
    QVERIFY(panelLines.size() > 1600);
    QVERIFY(writeFile(file(QStringLiteral("short panel")),
                      panelLines.mid(0, 1600).join('\n') + "\n:00000001FF\n"));
    shortPanelImage = objcopyImage(file(QStringLiteral("short panel")), int(sim::kPanelFlashSize));
    QVERIFY(!shortPanelImage.isEmpty());

    // Names a terminal would obey, and one that is not UTF-8.
    const QByteArray board = readFile(file(QStringLiteral("board")));
    QVERIFY(writeFile(file(kForgingName), board));
    QVERIFY(writeFile(file(kForgingName + QStringLiteral("-damaged")), damaged.join('\n') + '\n'));
    QVERIFY(writeFileNamed(fileBytes(kNotUtf8Name), board));
}

void CliFixture::init()
{
    SimulatedDevices::instance().reset();
    // What one case's update leaves in a unit's lock must not tell the next of its unit.
    QDir locks(folder.filePath(QStringLiteral("locks")));
    for (const QString &name : locks.entryList(QDir::Files))
        QVERIFY(locks.remove(name));
}

void CliFixture::cleanup()
{
    QCOMPARE(SimulatedDevices::instance().openHandles(), 0);
}

void CliFixture::cleanupTestCase()
{
    // QTemporaryDir removes by decoded names, which cannot reach a name that is not UTF-8.
    ::unlink(fileBytes(kNotUtf8Name).constData());
}

QString CliFixture::file(const QString &key) const
{
    if (key == QLatin1String("panel"))
        return kExamples + QStringLiteral("/controlpanel-example.hex");
    if (key == QLatin1String("board"))
        return kExamples + QStringLiteral("/controlboard-example.hex");
    return folder.filePath(key + QStringLiteral(".hex"));
}

QByteArray CliFixture::fileBytes(const QString &key) const
{
    if (key == kNotUtf8Name)
        return QFile::encodeName(folder.path()) + '/' + kNotUtf8Bytes;
    if (key == kOverlongName)
        return QFile::encodeName(folder.path()) + '/' + kOverlongBytes;
    return QFile::encodeName(file(key));
}
