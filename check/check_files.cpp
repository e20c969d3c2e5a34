#include "check/check_files.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

#include "limits/limits_file.h"
#include "link/board_address.h"
#include "link/udp_socket.h"

namespace vardek::check {

std::string readBoardsFile(const std::string& path, std::vector<RackBoard>& boards) {
    QByteArray bytes;
    if (std::string problem = limits::readOptionText("--boards", path, bytes); !problem.empty()) {
        return problem;
    }
    std::vector<RackBoard> read = boards;
    const std::size_t given = read.size();
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QByteArray line = lines[number];
        const std::string where = path + ':' + std::to_string(number + 1) + ": ";
        // A control character would reach the terminal and the reports as it is.
        const auto control = std::ranges::find_if(line, [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return (byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7F;
        });
        if (control != line.end()) {
            return where + "holds the control character " + link::quotedForMessage({&*control, 1});
        }
        const qsizetype comment = line.indexOf('#');
        const QList<QByteArray> fields =
            (comment < 0 ? line : line.left(comment)).simplified().split(' ');
        if (fields.front().isEmpty()) {
            continue;
        }
        const std::string address = fields.front().toStdString();
        if (fields.size() > 2) {
            return where + limits::shownValue(QString::fromUtf8(line.trimmed())) +
                   ": expects an address and, optionally, the unit's serial after it";
        }
        if (std::string problem = link::boardAddressProblem(address); !problem.empty()) {
            return where + problem;
        }
        const std::string serial = fields.size() == 2 ? fields.back().toStdString() : "";
        if (std::string problem = serialProblem(serial); fields.size() == 2 && !problem.empty()) {
            return where + "the serial " + link::quotedForMessage(serial) + ' ' + problem;
        }
        read.push_back({address, serial});
    }
    if (read.size() == given) {
        return "--boards " + path + " names no board";
    }
    if (std::string problem = repeatedBoard(read); !problem.empty()) {
        return "--boards " + path + ": " + problem;
    }
    boards = std::move(read);
    return {};
}

std::string serialProblem(std::string_view serial) {
    if (serial.empty()) {
        return "is empty";
    }
    if (serial.size() > kMaxSerialBytes) {
        return "is " + std::to_string(serial.size()) + " bytes, more than the " +
               std::to_string(kMaxSerialBytes) + " a serial may hold";
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(serial.data(), qsizetype(serial.size())));
    if (utf8.hasError()) {
        return "is not UTF-8 text";
    }
    // What no JSON or XML reader takes, what a terminal acts on, and what would split the
    // serial in a --boards line.
    for (const char32_t c : decoded.toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
        const bool space = QChar::isSpace(c);
        if (control || space || QChar::isNonCharacter(c)) {
            return "holds " +
                   std::string(control ? "a control character"
                               : space ? "a space"
                                       : "a noncharacter") +
                   " (U+" + QString::number(c, 16).toUpper().rightJustified(4, u'0').toStdString() +
                   ")";
        }
    }
    return {};
}

std::string repeatedBoard(const std::vector<RackBoard>& boards) {
    std::map<std::uint32_t, const RackBoard*> seen;
    std::map<std::string_view, const RackBoard*> serials;
    for (const RackBoard& board : boards) {
        // One unit in two slots would leave two records under one serial, one of them false.
        if (!board.dutId.empty()) {
            if (const auto [first, fresh] = serials.emplace(board.dutId, &board); !fresh) {
                return "the serial " + board.dutId + " is given twice, to " +
                       first->second->address + " and " + board.address;
            }
        }
        const auto address = link::parseIpv4(board.address);
        if (!address) {
            continue;
        }
        if (const auto [first, fresh] = seen.emplace(*address, &board); !fresh) {
            const auto named = [](const RackBoard& b) {
                return b.dutId.empty() ? b.address : b.address + " (" + b.dutId + ")";
            };
            return "the board " + named(board) + " is named twice, also as " +
                   named(*first->second) + ": one board is checked once";
        }
    }
    return {};
}

}  // namespace vardek::check
