// The user's settings file, through the code every program reads it with: whatever stands in the
// file's place and whatever it holds, the board is chosen, or refused with a short message
// naming the file, at once. A hang (a FIFO or a device waited on), a crash, an escaping exception
// or a broken rule is a finding.
//
// Input: the first byte picks what stands in the file's place (see Kind); the second how many
// times the rest, the file's contents, is repeated, so that a short input can pass the size limit.
#include <QByteArrayView>
#include <QStringDecoder>

#include <array>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz/fuzz_input.h"
#include "host/board_settings.h"
#include "link/board_address.h"

namespace {

namespace host = vardek::host;
namespace link = vardek::link;
namespace fs = std::filesystem;

enum class Kind { Nothing, Text, Unreadable, Fifo, Directory, Device, Dangling, kCount };

constexpr std::string_view kBuiltIn = "127.0.0.1";
constexpr std::size_t kMaxRepeats = 32;
// The longest refusal: the file's path, then a phrase quoting two values cut short.
constexpr std::size_t kMaxMessage = 512;

// The one XDG_CONFIG_HOME, emptied for every input.
const fs::path& configHome() {
    static const fs::path home = [] {
        std::string pattern = (fs::temp_directory_path() / "fuzz_settings.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return fs::path(pattern);
    }();
    fs::remove_all(home / "vardek-control");
    return home;
}

// QSettings keeps a file it has read and takes it again while its size and time stay the same:
// every input's file has a time of its own, as a file a user edits has.
void stampAnew(const fs::path& file) {
    static std::time_t stamp = 0;
    const std::array<timespec, 2> times{{{++stamp, 0}, {stamp, 0}}};
    FUZZ_REQUIRE(::utimensat(AT_FDCWD, file.c_str(), times.data(), 0) == 0);
}

bool isUtf8(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString decoded =
        utf8(QByteArrayView(text.data(), qsizetype(text.size())));
    return !utf8.hasError();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vardek::fuzz::Input input(data, size);
    const auto kind = static_cast<Kind>(input.byte() % static_cast<unsigned>(Kind::kCount));
    const std::size_t repeats = 1 + input.byte() % kMaxRepeats;
    const std::vector<std::uint8_t> bytes = input.bytes(size);
    std::string contents;
    for (std::size_t i = 0; i < repeats; ++i) {
        contents.append(bytes.begin(), bytes.end());
    }

    const fs::path& home = configHome();
    const fs::path file = home / "vardek-control" / "vardek-control.conf";
    fs::create_directories(file.parent_path());
    switch (kind) {
        case Kind::Nothing:
            break;
        case Kind::Text:
        case Kind::Unreadable:
            std::ofstream(file, std::ios::binary) << contents;
            stampAnew(file);
            if (kind == Kind::Unreadable) {
                fs::permissions(file, fs::perms::none);
            }
            break;
        case Kind::Fifo:
            FUZZ_REQUIRE(::mkfifo(file.c_str(), 0600) == 0);
            break;
        case Kind::Directory:
            fs::create_directory(file);
            break;
        case Kind::Device:
            // Reads without end.
            fs::create_symlink("/dev/zero", file);
            break;
        case Kind::Dangling:
            fs::create_symlink(home / "nowhere", file);
            break;
        case Kind::kCount:
            break;
    }
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);

    const host::ChosenBoard board = host::chooseBoard(std::nullopt, kBuiltIn);
    FUZZ_REQUIRE(board.problem.size() <= kMaxMessage);
    if (kind == Kind::Nothing) {
        FUZZ_REQUIRE(board.address == kBuiltIn && board.file.empty() && board.problem.empty());
        return 0;
    }
    if (board.problem.empty()) {
        // Only a sound file names a board, and only one that the one check accepts.
        FUZZ_REQUIRE(kind == Kind::Text || (kind == Kind::Unreadable && ::geteuid() == 0));
        FUZZ_REQUIRE(link::boardAddressProblem(board.address).empty());
        FUZZ_REQUIRE(contents.size() <= host::kMaxSettingsBytes);
        FUZZ_REQUIRE(contents.find('\0') == std::string::npos && isUtf8(contents));
        FUZZ_REQUIRE(board.address == kBuiltIn || board.file == file.string());
    } else {
        FUZZ_REQUIRE(board.file == file.string() && board.problem.starts_with(board.file + ": "));
    }
    return 0;
}
