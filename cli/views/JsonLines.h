#pragma once

#include "UpdateEvents.h"
#include "UpdateOutcome.h"
#include "UpdateProgress.h"

#include <QJsonObject>
#include <QString>
#include <QTextStream>

#include <optional>

// zelupdate-cli's JSON Lines, as docs/json-lines.md writes them down: one codec writes every
// update event, and the update --all parent reads its workers' with the same one. Every line
// carries "event" and "version".

constexpr int kJsonLinesVersion = 1;

// Writes the object as one line of compact JSON, with the version, and flushes it, so that a
// script reading the stream sees each line as it comes. JSON's own escapes keep any name on its
// line.
void writeJsonLine(QTextStream &out, QJsonObject object);

// {"event": name, "version": 1}, to which an event adds its fields: a recording holds the events
// as --json writes them.
QJsonObject jsonEvent(const char *name);

// An update's result line: how it ended, and what happened to the unit.
struct UpdateResultRecord
{
    QString target;
    QString file;
    QString sha256; // empty when the file was not loaded
    qint64 usedPages = 0;
    double seconds = 0;
    QString result; // the end's text
    int exitCode = 0;
    SequenceEnd end = SequenceEnd::FileRefused;
    bool entered = false; // the target was sent into its bootloader, or ran it already
    int pagesWritten = 0;
    bool verified = false;
    Whereabouts unit = Whereabouts::Untouched;
};

// The result line's record for an update that ran (its outcome) or did not (a refused file).
UpdateResultRecord resultRecord(const UpdateOutcome &outcome);

QJsonObject chosenJson(const UnitIdentity &unit);
QJsonObject enteringJson();
QJsonObject warningJson(const QString &text);
QJsonObject resultJson(const UpdateResultRecord &record);

// A phase's lines as the stream writes them: its start, then its progress each time its whole
// percentage grows.
class PhaseLines
{
public:
    QJsonObject begin(UpdatePhase begun, int units, const QString &port);
    // None while the whole percentage has not grown.
    std::optional<QJsonObject> advance(int done);

private:
    UpdatePhase phase = UpdatePhase::Connecting;
    int total = 0;
    int percent = 0;
};

// One line of an update's stream as the --all parent takes it.
struct UpdateEventLine
{
    enum class Kind
    {
        Chosen,
        Phase,
        Progress,
        Entering,
        Warning,
        Result,
        Unknown, // another event, or not one at all: passed on as it is
    };
    Kind kind = Kind::Unknown;
    UpdatePhase phase = UpdatePhase::Connecting;
    int total = 0;
    int done = 0;
    QString text;              // a warning's
    UpdateResultRecord result; // its exit code, result, seconds and sha256
};

UpdateEventLine readEvent(const QJsonObject &object);

// The name the stream gives an end.
QString endName(SequenceEnd end);
