#pragma once

// The lines of a recording of a unit (docs/recording.md): one JSON object a line. The first line
// names the format and its version; every later line has "t", the microseconds since the
// recording began, and is a hidapi call ("call"), an engine event ("event", as zelupdate-cli's
// JSON Lines write it) or the program's exit status ("exit"). This codec writes and reads the
// calls; the recorder and the replay of the simulated devices share it.

#include "ConversationTap.h"

#include <QJsonObject>
#include <QString>

#include <vector>

constexpr const char *kRecordingFormat = "zelupdate-recording";
constexpr int kRecordingVersion = 1;

// Keys every reader relies on.
constexpr const char *kTimeKey = "t";
constexpr const char *kCallKey = "call";
constexpr const char *kEventKey = "event";
constexpr const char *kExitKey = "exit";

// The first line: the format, its version, and what the caller adds (program, options).
QJsonObject recordingHeader(const QJsonObject &about);

// How a line was read.
struct HeaderCheck
{
    enum class End
    {
        Recording, // a recording of a version this program reads
        Refused,   // why says what it is instead
    };
    End end = End::Refused;
    QString why;
};
HeaderCheck checkRecordingHeader(const QJsonObject &line);

// Writes calls as lines. An enumeration that lists what the one before it listed says so in one
// word ("unchanged") rather than again in full: a unit followed through a restart is looked for
// every few milliseconds.
class CallEncoder
{
public:
    QJsonObject encode(const HidCall &call);

private:
    std::vector<ListedDevice> lastListed;
    bool listedBefore = false;
};

struct CallRead
{
    enum class End
    {
        Call,      // `call` holds it
        NotACall,  // a line of another kind (an event, the exit status)
        Malformed, // `why` says what is wrong with it
    };
    End end = End::Malformed;
    HidCall call;
    QString why;
};

class CallDecoder
{
public:
    CallRead decode(const QJsonObject &line);

private:
    std::vector<ListedDevice> lastListed;
    bool listedBefore = false;
};
