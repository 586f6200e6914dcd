#pragma once

// A recording on disk: JSON Lines, gzip-compressed when the name ends in ".gz".

#include <QJsonObject>
#include <QString>

#include <vector>

// How opening or finishing a file went.
struct RecordingFileOutcome
{
    enum class End
    {
        Done,
        Failed, // `why` names the file and the reason
    };
    End end = End::Done;
    QString why;

    bool done() const { return end == End::Done; }
};

// Writes a recording line by line as the program goes, so that a program killed half-way still
// leaves what it recorded until then.
class RecordingWriter
{
public:
    RecordingWriter() = default;
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter &) = delete;
    RecordingWriter &operator=(const RecordingWriter &) = delete;

    // Creates the file, or empties one that is there.
    RecordingFileOutcome open(const QString &path);
    // A line that cannot be written is remembered; finish() says so.
    void write(const QJsonObject &line);
    // Flushes and closes; Failed when any line could not be written whole.
    RecordingFileOutcome finish();

private:
    void writeBytes(const QByteArray &bytes);

    QString path;
    void *gz = nullptr;         // gzFile when compressing
    std::FILE *plain = nullptr; // otherwise
    QString firstFailure;
};

struct RecordingContents
{
    enum class End
    {
        Read,
        Failed, // `why` names the file, the line and what is wrong there
    };
    End end = End::Failed;
    QString why;
    std::vector<QJsonObject> lines; // the header first
};

// Reads a whole recording, gzip-compressed or not, and checks its first line names the format
// at a version this program reads.
RecordingContents readRecording(const QString &path);
