#pragma once

// A unit replayed from a recording (docs/recording.md) in place of the simulated units: the same
// listings and departures at the recorded times, scaled by a speed, and to each report that is
// the one recorded, the replies recorded after it. The first report that differs ends the
// replay: it is named on standard error with the bytes expected and written, and from then on
// the unit answers nothing, as a unit that stopped would.

#include "ConversationTap.h"
#include "SimulatedDevices.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// What a replay needs of a recording: its calls, sorted by kind, each with its time.
struct RecordedConversation
{
    struct Listing
    {
        std::int64_t atUs;
        std::vector<ListedDevice> devices;
    };
    struct Open
    {
        std::int64_t atUs;
        std::string path; // empty: opened by the ids
        bool opened;
        std::wstring error;
    };
    struct Write
    {
        std::int64_t atUs;
        std::vector<std::uint8_t> bytes;
        int result;
    };
    struct Read
    {
        std::int64_t atUs;
        int timeoutMs;
        int result;
        std::vector<std::uint8_t> bytes;
    };

    std::vector<Listing> listings;
    std::vector<Open> opens;
    std::vector<Write> writes;
    // The reads before the first report ([0]) and after each report ([n + 1] after report n).
    std::vector<std::vector<Read>> readsAfter{{}};
    std::int64_t firstUs = 0; // the first call's time: the replay begins there
};

struct ConversationLoad
{
    enum class End
    {
        Loaded,
        Refused, // `why` names the file, the line and what is wrong
    };
    End end = End::Refused;
    std::string why;
    RecordedConversation conversation;
};

// Reads a recording, gzip-compressed or not.
ConversationLoad loadConversation(const std::string &path);

class RecordedUnit : public HidStandIn
{
public:
    // `program` and `file` name the replay in its messages on standard error; both must outlive
    // the object. `speed` above 1 replays faster than recorded.
    RecordedUnit(const char *program, std::string file, RecordedConversation conversation,
                 double speed);
    ~RecordedUnit() override;

    hid_device_ *open(unsigned short vendorId, unsigned short productId,
                      const wchar_t *serial) override;
    hid_device_ *openPath(const char *path) override;
    struct hid_device_info *enumerate(unsigned short vendorId, unsigned short productId) override;
    const wchar_t *error(hid_device_ *device) override;
    int write(hid_device_ *device, const unsigned char *data, std::size_t length) override;
    int readTimeout(hid_device_ *device, unsigned char *data, std::size_t length,
                    int milliseconds) override;
    void close(hid_device_ *device) override;
    int exit() override;
    std::string portOfPath(const char *path) override;

    // Whether every recorded report was written, and none differed.
    bool replayedWhole() const;

private:
    using Clock = std::chrono::steady_clock;

    std::int64_t recordedNow();
    // Waits until the recording's clock shows `atUs`, or at most `limitMs` of real time; true
    // when it got there.
    bool waitFor(std::int64_t atUs, int limitMs);
    void sleepRecorded(int milliseconds);
    const std::vector<ListedDevice> &listedNow();
    hid_device_ *openListed(const std::string &path);
    void differs(const std::string &why, const unsigned char *data, std::size_t length);

    const char *program;
    const std::string file;
    const RecordedConversation recorded;
    const double speed;

    bool started = false;
    std::int64_t anchorUs = 0; // the recording's time that `anchor` stands for
    Clock::time_point anchor;
    std::size_t reportsMatched = 0;
    bool broken = false;        // a report differed: nothing answers any more
    std::size_t readsTaken = 0; // of the reads after the last report matched
    std::size_t opensTaken = 0;
    std::size_t listing = 0; // the listing shown last
    std::wstring lastError;
    std::vector<std::unique_ptr<hid_device_>> handles;
    unsigned lastHandle = 0;
};

} // namespace sim
