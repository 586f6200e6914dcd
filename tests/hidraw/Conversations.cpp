#include "Conversations.h"

#include "ControlBoardProgrammer.h"
#include "ControlPanelProgrammer.h"
#include "ProgrammerFixture.h"
#include "TargetProfile.h"

#include <cstdint>

namespace {

// Writes each step's line of the outcome.
class Steps
{
public:
    explicit Steps(CommandChannel &channel) : channel(channel) {}

    void open() { verdict("open", channel.openChannel(), false); }

    // The two letters go into the first payload bytes; the rest keeps what is there.
    void exchange(char first, char second, bool checkEcho)
    {
        channel.command[0] = static_cast<std::uint8_t>(first);
        channel.command[1] = static_cast<std::uint8_t>(second);
        const std::string label{first, ' ', second};
        verdict(label.c_str(), channel.exchange(checkEcho), true);
    }

    // Sends the payload as it stands.
    void exchangePayload(const char *label, bool checkEcho)
    {
        verdict(label, channel.exchange(checkEcho), true);
    }

    void readReply() { verdict("read", channel.readReply(), true); }

    void close()
    {
        channel.closeChannel();
        outcome += "close\n";
    }

    std::string outcome;

private:
    void verdict(const char *label, bool failed, bool withReply)
    {
        outcome += label;
        outcome += failed ? ": failed" : ": ok";
        if (withReply) {
            static const char digits[] = "0123456789abcdef";
            outcome += ' ';
            for (const std::uint8_t byte : channel.reply) {
                outcome += digits[byte >> 4];
                outcome += digits[byte & 0x0F];
            }
        }
        outcome += '\n';
    }

    CommandChannel &channel;
};

void putOffset(CommandChannel &channel, std::uint32_t offset)
{
    channel.command[2] = static_cast<std::uint8_t>(offset >> 24);
    channel.command[3] = static_cast<std::uint8_t>(offset >> 16);
    channel.command[4] = static_cast<std::uint8_t>(offset >> 8);
    channel.command[5] = static_cast<std::uint8_t>(offset);
}

// The ControlPanel's bootloader: hello, programming mode, one page written and read back.
std::string bootloaderPage(CommandChannel &channel, DeviceEvents &events)
{
    Steps steps(channel);
    steps.open();
    steps.exchange('E', 'e', true);
    events.panelEntersBootloader();
    steps.exchange('C', 'c', true);
    putOffset(channel, 0);
    steps.exchange('Y', 'y', true);
    // Every byte differs from its neighbours, so a shifted byte cannot go unseen.
    for (int i = 0; i < kPayloadSize; ++i)
        channel.command[i] = static_cast<std::uint8_t>(i * 37 + 11);
    steps.exchangePayload("data", true);
    putOffset(channel, 0);
    steps.exchange('R', 'r', false);
    steps.close();
    return steps.outcome;
}

// A reply that never comes, one that comes a read late and one on time: only the late one
// needs a delay in the script.
std::string missedReplies(CommandChannel &channel, DeviceEvents &)
{
    Steps steps(channel);
    steps.open();
    steps.exchange('E', 'e', true);
    steps.exchange('E', 'e', true);
    steps.readReply();
    steps.exchange('E', 'e', true);
    steps.close();
    return steps.outcome;
}

// Firmware for the programming conversations. No byte is 0x20: a umockdev script cannot begin a
// reply with it, and image bytes begin the read-back replies and the ControlPanel's data echoes.
QByteArray firmware(int size, int start)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i) {
        const char byte = char((start + i * 37) & 0xFF);
        bytes.append(byte == 0x20 ? char(0x21) : byte);
    }
    return bytes;
}

// A whole programming call: the result, the UpdateResult's text when it failed.
void program(Steps &steps, CommandChannel &channel, const UpdateTarget &target,
             const std::vector<Block> &blocks)
{
    HexFile file = textFile(hexFile(blocks));
    SilentProgress progress;
    const UpdateResult result =
        programHexFile(target, channel, target.profile, file.get(), progress);
    steps.outcome +=
        result.isEmpty() ? "program: ok\n" : "program: failed " + result.toStdString() + "\n";
}

// The ControlPanel's programmer on a small image: a row, a page inside a row whose first page
// is blank, and a page above 64 KiB; written, read back, compared.
std::string panelProgramming(CommandChannel &channel, DeviceEvents &events)
{
    Steps steps(channel);
    steps.open();
    events.panelEntersBootloader();
    program(steps, channel, kControlPanelTarget,
            {{0x0000, firmware(128, 3)}, {0x0150, firmware(40, 90)}, {0x10000, firmware(64, 7)}});
    steps.close();
    return steps.outcome;
}

// The control board's programmer on a small image: two pages, one of them partly 0xFF; written,
// read back in two replies a page, compared, and the boot exit.
std::string boardProgramming(CommandChannel &channel, DeviceEvents &events)
{
    Steps steps(channel);
    steps.open();
    events.boardEntersBootloader();
    program(steps, channel, kControlBoardTarget,
            {{0x0000, firmware(128, 5)}, {0x0100, firmware(50, 60)}});
    steps.close();
    return steps.outcome;
}

} // namespace

const std::vector<Conversation> &conversations()
{
    using sim::Fault;
    using sim::FaultKind;
    using sim::FaultTrigger;
    static const std::vector<Conversation> all = {
        {"bootloader_page",
         {},
         bootloaderPage,
         "open: ok\nE e: ok\nC c: ok\nY y: ok\ndata: ok\nR r: ok\nclose\n"},
        {"missed_replies",
         {{FaultTrigger::onCommand('E', 'e', 0), Fault{FaultKind::NoReply}},
          {FaultTrigger::onCommand('E', 'e', 1), Fault{FaultKind::LateReply}}},
         missedReplies,
         "open: ok\nE e: failed\nE e: failed\nread: ok\nE e: ok\nclose\n",
         1000},
        {"panel_programming", {}, panelProgramming, "open: ok\nprogram: ok\nclose\n"},
        {"board_programming", {}, boardProgramming, "open: ok\nprogram: ok\nclose\n"},
    };
    return all;
}

const Conversation *findConversation(const std::string &name)
{
    for (const Conversation &conversation : conversations())
        if (name == conversation.name)
            return &conversation;
    return nullptr;
}

std::string verdictsOf(const std::string &outcome)
{
    std::string verdicts;
    std::size_t start = 0;
    while (start < outcome.size()) {
        std::size_t end = outcome.find('\n', start);
        if (end == std::string::npos)
            end = outcome.size();
        std::string line = outcome.substr(start, end - start);
        for (const char *word : {": ok", ": failed"}) {
            const std::size_t at = line.find(word);
            if (at != std::string::npos) {
                line.resize(at + std::string(word).size());
                break;
            }
        }
        verdicts += line + '\n';
        start = end + 1;
    }
    return verdicts;
}
