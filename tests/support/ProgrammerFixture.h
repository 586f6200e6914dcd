#pragma once

// Test helpers for the page walks: HEX files made from blocks of bytes, the image they describe,
// a progress recorder, and a model of the command payload to write expected traffic with.

#include "CommandChannel.h"
#include "FirmwareImage.h"
#include "HexFile.h"
#include "TargetProfile.h"
#include "UpdateProgress.h"
#include "UpdateResult.h"
#include "UpdateTarget.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct Block
{
    std::uint32_t address;
    QByteArray bytes;
};

// Firmware-like bytes: start, start + stride, start + 2 × stride, ... modulo 256.
QByteArray pattern(int size, int start, int stride);

// Intel HEX text for the blocks, 16 data bytes a record, with an extended linear address record
// whenever a record starts in another 64 KiB than the one before, and an end-of-file record.
QByteArray hexFile(const std::vector<Block> &blocks);

// The image the blocks describe: 0xFF wherever no block sets a byte.
std::unique_ptr<FirmwareImage> imageOf(const std::vector<Block> &blocks);

// A temporary C stream holding the text, at its start.
HexFile textFile(const QByteArray &text);

// Records what a walk reports, as readable lines: "writing 4", "step 1", ..., "verifying 4",
// "step 1", ..., "leaving 0", "finish".
class RecordingProgress : public UpdateProgress
{
public:
    void phaseBegins(UpdatePhase phase, int total) override
    {
        events << QString("%1 %2").arg(phaseName(phase)).arg(total);
    }
    void advanced(int done) override { events << QString("step %1").arg(done); }
    void walkEnded() override { events << "finish"; }

    QStringList events;
};

struct ProgrammerRun
{
    UpdateResult result;
    RecordingProgress progress;
    ImageSummary loaded;
};

// Opens a channel, loads the HEX text for the target and runs its programmer, recording its
// progress.
std::unique_ptr<ProgrammerRun> runProgrammer(const UpdateTarget &target, const QByteArray &hex);

// The output report as the program must build it: commands write only their own bytes, so the
// model keeps the payload between reports just as the channel does.
class TrafficModel
{
public:
    void command(char first, char second);
    void command32(char first, char second, std::uint32_t offset); // big-endian, bytes 2-5
    void command16(char first, char second, std::uint32_t offset); // big-endian, bytes 2-3
    void data(const std::uint8_t *bytes);                          // all 64 payload bytes

    std::vector<std::vector<std::uint8_t>> reports;

private:
    void push();
    std::array<std::uint8_t, 64> payload{};
};

// The reports written, as a readable line each, for a diff that shows where traffic departs.
QStringList describe(const std::vector<std::vector<std::uint8_t>> &reports);
