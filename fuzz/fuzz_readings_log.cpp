// The reader of readings logs with any file: the same samples and problems whether the file
// comes whole or in pieces (as a log that grows is read), and every sample it takes written
// back by the log's own writer and read again unchanged, so what the reader accepts the writer
// can always write.
//
// Input: one byte, the size of the pieces (1 to 256), then the file's bytes.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_input.h"
#include "readings/log_format.h"
#include "readings/log_reader.h"

namespace {

using vardek::readings::LogReader;

LogReader::Batch readInPieces(LogReader& reader, std::string_view text, std::size_t piece) {
    LogReader::Batch all;
    const auto take = [&all](LogReader::Batch batch) {
        all.samples.insert(all.samples.end(), batch.samples.begin(), batch.samples.end());
        all.problems.insert(all.problems.end(), batch.problems.begin(), batch.problems.end());
    };
    for (std::size_t at = 0; at < text.size(); at += piece) {
        take(reader.feed(text.substr(at, piece)));
    }
    take(reader.finish());
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vardek::fuzz::Input input(data, size);
    const std::size_t piece = std::size_t{input.byte()} + 1;
    const std::string text(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0),
                           size > 0 ? size - 1 : 0);

    LogReader whole;
    const LogReader::Batch once = readInPieces(whole, text, text.size() + 1);
    LogReader pieces;
    const LogReader::Batch inPieces = readInPieces(pieces, text, piece);
    FUZZ_REQUIRE(once.samples == inPieces.samples);
    FUZZ_REQUIRE(once.problems.size() == inPieces.problems.size());
    for (std::size_t i = 0; i < once.problems.size(); ++i) {
        FUZZ_REQUIRE(once.problems[i].line == inPieces.problems[i].line);
        FUZZ_REQUIRE(once.problems[i].reason == inPieces.problems[i].reason);
    }
    FUZZ_REQUIRE(once.samples.empty() || whole.hasHeader());

    // Written back: the rows read again give the same lines, the writer's form being the
    // reader's fixed point.
    std::string written = vardek::readings::csvHeader(whole.pins());
    for (const auto& sample : once.samples) {
        written += vardek::readings::csvRow(sample, whole.pins());
    }
    LogReader again;
    const LogReader::Batch reread = readInPieces(again, written, written.size() + 1);
    // A header alone is refused as a log without rows, and nothing else is wrong with it.
    FUZZ_REQUIRE(once.samples.empty() ? again.failed() && reread.problems.size() == 1
                                      : reread.problems.empty());
    FUZZ_REQUIRE(reread.samples.size() == once.samples.size());
    for (std::size_t i = 0; i < reread.samples.size(); ++i) {
        FUZZ_REQUIRE(vardek::readings::csvRow(reread.samples[i], whole.pins()) ==
                     vardek::readings::csvRow(once.samples[i], whole.pins()));
    }
    return 0;
}
