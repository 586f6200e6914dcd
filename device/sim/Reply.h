#pragma once

// What the simulated devices send back, and the shapes of the reports they read: shared by the
// device models, fault injection and the hidapi side.

#include "DeviceIds.h"
#include "ProtocolCommands.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sim {

constexpr int kPayload = kPayloadSize;
constexpr std::size_t kReport = kReportSize; // report id 0, then the payload
constexpr std::size_t kReply = kReplySize;
// How much of a report a short reply or a short write carries.
constexpr int kShortLength = 32;

struct Reply
{
    std::array<std::uint8_t, kReply> bytes{};
    std::size_t length = kReply;
    int missedReads = 0;     // reads that pass before it arrives
    unsigned generation = 0; // replies go to handles of the power cycle that asked
};

inline std::uint32_t bigEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline std::uint32_t bigEndian16(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 8 | p[1];
}

inline bool isCommand(const std::uint8_t *payload, CommandLetters command)
{
    return payload[0] == std::uint8_t(command.first) && payload[1] == std::uint8_t(command.second);
}

inline Reply echoOf(const std::uint8_t *payload)
{
    Reply reply;
    reply.bytes[0] = payload[1];
    reply.bytes[1] = payload[0];
    return reply;
}

// A refusal: its first byte can never equal the echo the sender checks for.
inline Reply refusalOf(const std::uint8_t *payload)
{
    Reply reply;
    reply.bytes[0] = static_cast<std::uint8_t>(~payload[1]);
    reply.bytes[1] = static_cast<std::uint8_t>(~payload[0]);
    return reply;
}

// 64 bytes of flash from `offset`; zeros past its end.
template <std::size_t N>
Reply dataReply(const std::array<std::uint8_t, N> &flash, std::uint32_t offset)
{
    Reply reply;
    if (offset + kPayload <= N)
        std::memcpy(reply.bytes.data(), flash.data() + offset, kPayload);
    return reply;
}

} // namespace sim
