// Load speed of the HEX loader on a full ControlPanel image (every loadable byte, 16-byte records,
// a linear address record every 64 KiB, CR LF) and a full control board image, beside the
// whole-process time of GNU objcopy converting the same ControlPanel file. Prints the peak memory
// of this process at the end.
//
// Each load runs with the loader's line reader and, as baselines, with two earlier ones: the
// fgets reader, which knew no lone CR, and the character-by-character reader that first honoured
// it. The loader may take at most 1.5 times as long as with the fgets reader.

#include "FullHexImage.h"
#include "HexLoader.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

extern char **environ;

namespace {

// A HEX file in the temporary folder, removed at exit.
class HexFile
{
public:
    HexFile(std::uint32_t size, bool linearRecords)
    {
        char name[] = "/tmp/bench_hexloader-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        std::FILE *file = fdopen(fd, "w");
        writeFullHexImage(file, size, linearRecords, "\r\n");
        bytes = std::ftell(file);
        std::fclose(file);
    }
    ~HexFile() { std::remove(path.c_str()); }

    std::string path;
    long bytes = 0;
};

const HexFile &panelFile()
{
    static const HexFile file(kControlPanelProfile.imageLimit, true);
    return file;
}

const HexFile &boardFile()
{
    static const HexFile file(kControlBoardProfile.imageLimit, false);
    return file;
}

// The reader before lone CRs were honoured: LF and CR LF end a line, fgets finds them.
HexLineStatus readLineWithFgets(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    buffer[kHexMaxLineLength] = '\n';
    if (!std::fgets(buffer, kHexLineBufferSize, file)) {
        return std::ferror(file) ? HexLineStatus::ReadError : HexLineStatus::EndOfFile;
    }
    const auto endOrError = [file] {
        return std::ferror(file) ? HexLineStatus::ReadError : HexLineStatus::Line;
    };
    if (buffer[kHexMaxLineLength] != '\0') {
        const std::size_t length = std::strlen(buffer);
        if (length > 0 && buffer[length - 1] == '\n') {
            return HexLineStatus::Line;
        }
        return endOrError();
    }
    if (buffer[kHexMaxLineLength - 1] == '\n') {
        return HexLineStatus::Line;
    }
    int next = std::getc(file);
    if (next == '\r') {
        next = std::getc(file);
    }
    if (next == '\n') {
        return HexLineStatus::Line;
    }
    if (next == EOF) {
        return endOrError();
    }
    return HexLineStatus::TooLong;
}

// The first reader to honour a lone CR: one getc_unlocked a character.
HexLineStatus readLockedByCharacter(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    buffer[0] = '\0';
    if (std::ferror(file)) {
        return HexLineStatus::ReadError;
    }
    int length = 0;
    for (;;) {
        const int c = getc_unlocked(file);
        if (c == '\n') {
            break;
        }
        if (c == '\r') {
            const int next = getc_unlocked(file);
            if (next != '\n' && next != EOF) {
                ungetc(next, file);
            }
            break;
        }
        if (c == EOF) {
            buffer[length] = '\0';
            if (std::ferror(file)) {
                return HexLineStatus::ReadError;
            }
            return length == 0 ? HexLineStatus::EndOfFile : HexLineStatus::Line;
        }
        if (length == kHexMaxLineLength) {
            buffer[length] = '\0';
            return HexLineStatus::TooLong;
        }
        buffer[length++] = static_cast<char>(c);
    }
    buffer[length] = '\0';
    return HexLineStatus::Line;
}

HexLineStatus readLineByCharacter(std::FILE *file, char (&buffer)[kHexLineBufferSize])
{
    flockfile(file);
    const HexLineStatus status = readLockedByCharacter(file, buffer);
    funlockfile(file);
    return status;
}

struct Outputs
{
    FirmwareImage image;
    PageMap pageMap;
    std::uint32_t usedPages = 0;
};

void loadRepeatedly(benchmark::State &state, const HexFile &hex, const TargetProfile &profile,
                    HexVariant variant, std::uint32_t expectedPages, HexLineReadFunction readLine)
{
    auto outputs = std::make_unique<Outputs>();
    std::FILE *file = std::fopen(hex.path.c_str(), "r");
    for (auto _ : state) {
        std::rewind(file);
        // Not const: Google Benchmark 1.8 deprecated DoNotOptimize of a const reference.
        HexLoadResult result = loadHexImage(file, profile, variant, outputs->image,
                                            outputs->pageMap, outputs->usedPages, readLine);
        benchmark::DoNotOptimize(result);
        if (!result.ok() || outputs->usedPages != expectedPages) {
            state.SkipWithError("the image did not load completely");
            break;
        }
    }
    std::fclose(file);
    state.SetBytesProcessed(state.iterations() * hex.bytes);
    state.counters["file_bytes"] = double(hex.bytes);
}

void BM_LoadControlPanelImage(benchmark::State &state, HexLineReadFunction readLine)
{
    loadRepeatedly(state, panelFile(), kControlPanelProfile, HexVariant::ControlPanel, 4081,
                   readLine);
}
BENCHMARK_CAPTURE(BM_LoadControlPanelImage, line_reader, readHexLine)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadControlPanelImage, baseline_fgets_reader, readLineWithFgets)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadControlPanelImage, baseline_character_reader, readLineByCharacter)
    ->Unit(benchmark::kMillisecond);

void BM_LoadControlBoardImage(benchmark::State &state, HexLineReadFunction readLine)
{
    loadRepeatedly(state, boardFile(), kControlBoardProfile, HexVariant::ControlBoard, 252,
                   readLine);
}
BENCHMARK_CAPTURE(BM_LoadControlBoardImage, line_reader, readHexLine)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadControlBoardImage, baseline_fgets_reader, readLineWithFgets)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadControlBoardImage, baseline_character_reader, readLineByCharacter)
    ->Unit(benchmark::kMillisecond);

// Start, conversion and exit of a whole objcopy process on the ControlPanel file.
void BM_ObjcopyProcessControlPanelImage(benchmark::State &state)
{
    const std::string input = panelFile().path;
    const std::string output = input + ".bin";
    std::string arguments[] = {"objcopy", "-I", "ihex", "-O", "binary", input, output};
    char *argv[] = {
        arguments[0].data(), arguments[1].data(), arguments[2].data(), arguments[3].data(),
        arguments[4].data(), arguments[5].data(), arguments[6].data(), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "objcopy", nullptr, nullptr, argv, environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("objcopy failed or is missing (binutils)");
            break;
        }
    }
    std::remove(output.c_str());
    state.SetBytesProcessed(state.iterations() * panelFile().bytes);
}
BENCHMARK(BM_ObjcopyProcessControlPanelImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Children are left out: a spawned process inherits this one's high-water mark until exec.
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("peak resident memory of this process: %ld KiB\n", self.ru_maxrss);
    return 0;
}
