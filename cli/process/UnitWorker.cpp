#include "UnitWorker.h"

#include "CliTexts.h"
#include "Elapsed.h"
#include "ExitCodes.h"
#include "InterruptGuard.h"
#include "JsonLines.h"

#include <QJsonDocument>

#include <csignal>
#include <cstring>

#include <signal.h>

namespace {

// How long a worker left running when the program itself ends gets to go after SIGTERM: a unit
// in the middle of a page write stops at the page's end.
constexpr int kWorkerEndMs = 30000;

} // namespace

UnitWorker::UnitWorker(const QString &port, const QString &serial)
{
    unit.port = port;
    unit.serial = serial;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { readOutput(); });
    QObject::connect(&process, &QProcess::readyReadStandardError, [this] { readMessages(); });
    QObject::connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished),
                     [this](int, QProcess::ExitStatus) { end(QString()); });
    QObject::connect(&process, &QProcess::errorOccurred, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(QStringLiteral("could not start %1: %2")
                    .arg(process.program(), process.errorString()));
    });
}

UnitWorker::~UnitWorker()
{
    QObject::disconnect(&process, nullptr, nullptr, nullptr);
    if (process.state() == QProcess::NotRunning)
        return;
    pass(SIGTERM);
    if (!process.waitForFinished(kWorkerEndMs)) {
        process.kill();
        process.waitForFinished();
    }
}

void UnitWorker::start(const QString &program, const QStringList &arguments,
                       const QByteArray &request)
{
    clock.start();
    // The worker leaves this program's process group: every signal reaches it through this
    // program alone, once.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(interrupts::workerVariable()),
                       QString::fromLatin1(interrupts::workerValue()));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(request);
    process.closeWriteChannel();
}

void UnitWorker::pass(int signal)
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), signal);
}

void UnitWorker::readOutput()
{
    process.setReadChannel(QProcess::StandardOutput);
    while (process.canReadLine()) {
        const QByteArray line = process.readLine().trimmed();
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            if (onMessage)
                onMessage(QString::fromUtf8(line));
            continue;
        }
        QJsonObject event = document.object();
        take(event);
        event.insert(QStringLiteral("port"), unit.port);
        event.insert(QStringLiteral("serial"), unit.serial);
        if (onEvent)
            onEvent(event);
    }
}

void UnitWorker::readMessages()
{
    process.setReadChannel(QProcess::StandardError);
    while (process.canReadLine()) {
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        if (!line.isEmpty() && onMessage)
            onMessage(line);
    }
}

void UnitWorker::take(const QJsonObject &object)
{
    const UpdateEventLine line = readEvent(object);
    switch (line.kind) {
    case UpdateEventLine::Kind::Phase:
        unit.begun = true;
        unit.phase = line.phase;
        unit.done = 0;
        unit.total = line.total;
        unit.phaseClock.start();
        unit.entered = unit.entered || pastEntry(line.phase);
        break;
    case UpdateEventLine::Kind::Progress:
        unit.done = line.done;
        break;
    case UpdateEventLine::Kind::Entering:
        unit.entered = true;
        break;
    case UpdateEventLine::Kind::Warning:
        // Kept for the summary, where a scrolled-away warning is seen again.
        unit.warning += (unit.warning.isEmpty() ? QString() : QStringLiteral("; ")) + line.text;
        break;
    case UpdateEventLine::Kind::Result:
        resultSeen = true;
        unit.exitCode = line.result.exitCode;
        unit.result = line.result.result;
        unit.seconds = line.result.seconds;
        unit.sha256 = line.result.sha256;
        break;
    case UpdateEventLine::Kind::Chosen:
    case UpdateEventLine::Kind::Unknown:
        break;
    }
}

void UnitWorker::endedWithoutResult(int status)
{
    // A signal ends a worker as 128 + its number: killed, or by its own handler before the entry.
    const int signal = status - kSignalStatusBase;
    QString how = signal > 0 && signal < NSIG
                      ? QStringLiteral("ended by signal %1 (%2)")
                            .arg(signal)
                            .arg(QString::fromLocal8Bit(::strsignal(signal)))
                      : QStringLiteral("ended with exit status %1 without a result").arg(status);
    if (unit.entered) {
        // It may have been cut in the middle of a write.
        unit.exitCode = kExitFailedWhileWriting;
        unit.result = how + QStringLiteral(" after the bootloader entry: the firmware may be "
                                           "incomplete; update this unit again");
    } else {
        unit.exitCode = status == kExitOk ? kExitNotAnswering : status;
        unit.result = how + QStringLiteral(" before the bootloader entry: nothing was sent");
    }
}

void UnitWorker::end(const QString &failure)
{
    if (unit.ended)
        return;
    unit.ended = true;
    // What is still in the pipes, a last line without its line end included.
    if (failure.isEmpty()) {
        readOutput();
        readMessages();
        for (const QProcess::ProcessChannel channel :
             {QProcess::StandardOutput, QProcess::StandardError}) {
            process.setReadChannel(channel);
            const QByteArray rest = process.readAll().trimmed();
            if (!rest.isEmpty() && onMessage)
                onMessage(QString::fromUtf8(rest));
        }
    }
    if (!resultSeen)
        unit.seconds = secondsSince(clock);

    const bool crashed = failure.isEmpty() && process.exitStatus() == QProcess::CrashExit;
    // Killed, a signal's number is what QProcess gives as its exit code.
    const int status = crashed ? kSignalStatusBase + process.exitCode() : process.exitCode();
    if (!failure.isEmpty()) {
        unit.exitCode = kExitNoControlPanel;
        unit.result = failure;
    } else if (!resultSeen) {
        endedWithoutResult(status);
    }
    if (onEnded)
        onEnded();
}
