#include "RecordedRun.h"

#include "CliTexts.h"
#include "ConversationTap.h"
#include "ExitCodes.h"
#include "JsonLines.h"
#include "Printable.h"
#include "RecordingFile.h"
#include "RecordingFormat.h"
#include "UpdateOutcome.h"
#include "Version.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

namespace {

// Hears the program's hidapi calls and the engine's events, and writes each as a line with its
// time. Progress is written at each whole percent, as --json writes it.
class RecordingSession : public ConversationListener, public UpdateEvents
{
public:
    RecordingSession(RecordingWriter &writer, const VerbRequest &request)
        : writer(writer), request(request)
    {
    }

    void heard(const HidCall &call) override { writer.write(encoder.encode(call)); }

    void unitChosen(const UnitIdentity &unit) override { write(chosenJson(unit)); }
    void phaseBegins(UpdatePhase begun, int units) override
    {
        write(phaseLines.begin(begun, units, QString()));
    }
    void progressed(int done) override
    {
        if (const std::optional<QJsonObject> line = phaseLines.advance(done))
            write(*line);
    }
    void enteringBootloader() override { write(enteringJson()); }
    void ended(const UpdateOutcome &outcome) override
    {
        UpdateResultRecord record = resultRecord(outcome);
        record.target = request.target ? QLatin1String(request.target->name) : QString();
        record.file = QFileInfo(QFile::decodeName(request.file)).fileName();
        record.exitCode = exitCodeFor(record.end);
        record.seconds = double(listeningMicroseconds()) / 1e6;
        write(resultJson(record));
    }

    void probed(const QJsonObject &report)
    {
        QJsonObject event = jsonEvent("probe");
        event.insert(QStringLiteral("report"), report);
        write(event);
    }

    void exited(int code) { write({{QLatin1String(kExitKey), code}}); }

private:
    void write(QJsonObject line)
    {
        line.insert(QLatin1String(kTimeKey), double(listeningMicroseconds()));
        writer.write(line);
    }

    RecordingWriter &writer;
    const VerbRequest &request;
    CallEncoder encoder;
    PhaseLines phaseLines;
};

// The HEX file by its name and the SHA-256 of its bytes, never its contents.
QJsonObject fileJson(const QByteArray &file)
{
    QJsonObject about{{QStringLiteral("name"), QFileInfo(QFile::decodeName(file)).fileName()}};
    QFile hex(QFile::decodeName(file));
    QCryptographicHash sum(QCryptographicHash::Sha256);
    if (hex.open(QIODevice::ReadOnly) && sum.addData(&hex))
        about.insert(QStringLiteral("sha256"), QString::fromLatin1(sum.result().toHex()));
    return about;
}

bool sameFile(const QByteArray &a, const QByteArray &b)
{
    const QFileInfo first(QFile::decodeName(a));
    const QFileInfo second(QFile::decodeName(b));
    return first.exists() && second.exists() &&
           first.canonicalFilePath() == second.canonicalFilePath();
}

int refuse(CliStreams &io, const QString &why)
{
    io.err << kProgramName << ": " << why << '\n';
    io.err.flush();
    return kExitUsage;
}

} // namespace

int runRecorded(const Verb &verb, CliStreams &io, const VerbRequest &request,
                const QStringList &arguments)
{
    if (!request.file.isEmpty() && sameFile(request.file, request.recordFile))
        return refuse(io, QStringLiteral("--record %1 would overwrite the HEX file: record into "
                                         "another file")
                              .arg(printableName(request.recordFile)));
    RecordingWriter writer;
    const RecordingFileOutcome opened = writer.open(QFile::decodeName(request.recordFile));
    if (!opened.done())
        return refuse(io, QStringLiteral("the recording cannot be written: %1. Nothing was sent; "
                                         "give --record a file in a folder this user can write")
                              .arg(printable(opened.why)));

    QJsonObject about{
        {QStringLiteral("program"), QCoreApplication::applicationName()},
        {QStringLiteral("programVersion"), QLatin1String(kZelUpdateVersion)},
        {QStringLiteral("arguments"), QJsonArray::fromStringList(arguments)},
        {QStringLiteral("startedUtc"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
    };
    if (verb.takesFile)
        about.insert(QStringLiteral("file"), fileJson(request.file));
    writer.write(recordingHeader(about));

    RecordingSession session(writer, request);
    io.recordedEvents = &session;
    io.recordFindings = [&session](const QJsonObject &report) { session.probed(report); };
    startListening(session);
    const int code = verb.run(io, request);
    stopListening();
    io.recordedEvents = nullptr;
    io.recordFindings = nullptr;
    session.exited(code);

    const RecordingFileOutcome finished = writer.finish();
    if (!finished.done()) {
        io.err << kWarningPrefix << "the recording " << printable(finished.why) << '\n';
        io.err.flush();
    }
    return code;
}
