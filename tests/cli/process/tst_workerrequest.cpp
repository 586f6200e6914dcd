// What update --all hands a worker: the image it checked, whole, or nothing the worker will write.

#include "CliStreams.h"
#include "SimulatedDevices.h"
#include "UpdateAll.h"
#include "WorkerRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class WorkerRequestTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip();
    void refused_data();
    void refused();
    void oversized();

private:
    VerbRequest request;
    HexFileCheck check;
    QTemporaryDir folder;
};

void WorkerRequestTest::initTestCase()
{
    QVERIFY(folder.isValid());
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    qputenv("ZELUPDATE_LOCK_DIR", folder.filePath(QStringLiteral("locks")).toUtf8());
    request.target = targetNamed(QStringLiteral("board"));
    // Not UTF-8: the worker's history names the file byte for byte all the same.
    request.file = QByteArray(ZELUPDATE_EXAMPLES_DIR "/controlboard-example.hex");
    request.leaveTimeoutSeconds = 2;
    request.restartTimeoutSeconds = 9;
    check = checkHexFile(*request.target, request.file, false);
    QCOMPARE(check.verdict, HexFileCheck::Verdict::Good);
    check.warnings << QStringLiteral("a warning said by every unit");
    request.file += "\xff";
}

void WorkerRequestTest::roundTrip()
{
    const std::optional<WorkerTask> task =
        workerTask(workerRequest(request, check, QStringLiteral("1-2")));
    QVERIFY(task);
    QCOMPARE(task->request.target, request.target);
    QCOMPARE(task->request.file, request.file);
    QCOMPARE(task->request.unit.port, QStringLiteral("1-2"));
    QVERIFY(task->request.json);
    QCOMPARE(task->request.leaveTimeoutSeconds, 2);
    QCOMPARE(task->request.restartTimeoutSeconds, 9);
    QCOMPARE(task->check.verdict, HexFileCheck::Verdict::Good);
    QCOMPARE(task->check.warnings, check.warnings);
    QVERIFY(task->check.image);
    QVERIFY(task->check.image->image == check.image->image);
    QVERIFY(task->check.image->pageMap == check.image->pageMap);
    QCOMPARE(task->check.image->usedPages, check.image->usedPages);
    QCOMPARE(task->check.summary.sha256, check.summary.sha256);
    QCOMPARE(task->check.summary.lines, check.summary.lines);
    QCOMPARE(task->check.summary.endOfFileRecord, check.summary.endOfFileRecord);
}

void WorkerRequestTest::refused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<int>("code"); // the worker's exit status; nothing reaches a unit

    const QJsonObject good = QJsonDocument::fromJson(workerRequest(request, check, "1-1")).object();
    QByteArray image =
        QByteArray::fromBase64(good.value(QStringLiteral("image")).toString().toLatin1());
    image[0x500] = char(image[0x500] ^ 0x01);
    QTest::newRow("image changed on the way")
        << "image" << QJsonValue(QString::fromLatin1(image.toBase64())) << 3;
    QTest::newRow("image cut short")
        << "image" << QJsonValue(QString::fromLatin1(image.left(100).toBase64())) << 2;
    QTest::newRow("another version") << "version" << QJsonValue(2) << 2;
    QTest::newRow("unknown target") << "target" << QJsonValue(QStringLiteral("both")) << 2;
}

void WorkerRequestTest::refused()
{
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    QFETCH(int, code);

    QJsonObject object = QJsonDocument::fromJson(workerRequest(request, check, "1-1")).object();
    object.insert(field, value);
    sim::SimulatedDevices::instance().reset();
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    CliStreams io(outStream, errStream, false);
    QCOMPARE(runUnitWorker(io, QJsonDocument(object).toJson(QJsonDocument::Compact)), code);
    QVERIFY2(sim::SimulatedDevices::instance().traffic().empty(), qPrintable(err));
}

// A request larger than any update --all writes is not read to its end, however well formed.
void WorkerRequestTest::oversized()
{
    QByteArray padded = workerRequest(request, check, QStringLiteral("1-1"));
    padded.append(int(kMaxWorkerRequestBytes) - padded.size() + 1, ' ');
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), folder.filePath(QStringLiteral("sim")));
    QProcess worker;
    worker.setProcessEnvironment(environment);
    worker.start(QStringLiteral(ZELUPDATE_CLI_SIM), {QLatin1String(kWorkerArgument)});
    worker.write(padded);
    worker.closeWriteChannel();
    QVERIFY(worker.waitForFinished(30000));
    QCOMPARE(worker.exitCode(), 2);
}

QTEST_GUILESS_MAIN(WorkerRequestTest)
#include "tst_workerrequest.moc"
