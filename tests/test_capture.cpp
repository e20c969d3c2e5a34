// The simulator's captures, read back by tshark through the project's Wireshark dissector: every
// datagram in the file with its real addresses and ports and valid checksums, decoded in the
// protocol's terms, and every malformed one flagged.
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <cstdint>
#include <memory>
#include <vector>

#include "board_protocol.h"
#include "reply_text.h"
#include "simulator_run.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using vardek::link::channelSelector;

constexpr int kWaitMs = 10000;
constexpr std::uint8_t kRA5 = channelSelector(4);

struct Step {
    Bytes request;
    QString fields;         // command|operand|bit|selector, as tshark prints them
    QString problem;        // the expert message of a malformed request, which goes unanswered
    std::uint8_t read = 0;  // the selector that the reply answers
};
using Steps = std::vector<Step>;

const QString kTshark = QStringLiteral(VARDEK_TSHARK);
const QStringList kFields{"ip.src",       "udp.srcport",        "ip.dst",
                          "udp.dstport",  "vardek.command",     "vardek.operand",
                          "vardek.bit",   "vardek.selector",    "vardek.portb",
                          "vardek.value", "vardek.temperature", "_ws.col.Info",
                          "_ws.expert"};

QString hex(unsigned value, int digits) {
    return "0x" + QString::number(value, 16).rightJustified(digits, '0');
}

QString malformed(const QString& problem) { return "Expert Info (Error/Malformed): " + problem; }

// The reply's row, its values as the panel shows them.
QString replyRow(const QString& addresses, const Bytes& reply, std::uint8_t read) {
    if (reply.size() != vardek::link::kReplySize) {
        const QString problem = QStringLiteral("wrong length: %1 bytes, not 8").arg(reply.size());
        return addresses + "||||||||Reply [" + problem + "]|" + malformed(problem);
    }
    const unsigned value = unsigned(reply[4]) << 8 | reply[5];
    QString info = QString::fromStdString(vardek::link::hexText(reply, 3));
    QString temperature;
    if (read != 0) {
        info += "; " + QString::fromUtf8(vardek::link::findChannel(read)->pin.data(), 3) + ' ';
        if (read == kRA5) {
            temperature = QString::number(value / 1024.0 * 500, 'g', 15);
            info += QString::fromStdString(vardek::link::temperatureText(value));
        } else {
            info += QString::fromStdString(vardek::link::rawText(value));
        }
    }
    return QStringList{
        addresses,     "",          "",   "", read != 0 ? hex(read, 2) : "", hex(reply[1], 2),
        hex(value, 4), temperature, info, ""}
        .join('|');
}

}  // namespace

Q_DECLARE_METATYPE(Steps)

class TestCapture : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        socket_ = std::make_unique<QUdpSocket>();
        QVERIFY(socket_->bind(QHostAddress::LocalHost, 0));
    }

    void readsInTheProtocolsTerms_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<bool>("whileRunning");

        const Steps exchange{
            {{0x00}, "0x00|||", {}},
            {{0x01, 0x06, 0x05}, "0x01|0x06|5|", {}},
            {{0x02, 0x06, 0x05}, "0x02|0x06|5|", {}},
            {{0x04, 0x81, 0x01}, "0x04|||0x81", {}, 0x81},
            {{0x04, 0x89, 0x01}, "0x04|||0x89", {}, 0x89},
            {{0x04, 0x91, 0x01}, "0x04|||0x91", {}, 0x91},
            {{0x04, 0x99, 0x01}, "0x04|||0x99", {}, 0x99},
            {{0x04, 0xA1, 0x01}, "0x04|||0xa1", {}, kRA5},
            {{0x03, 0x06, 0x02}, "0x03|||", "unknown command"},
            {{0x01, 0x07, 0x02}, "0x01|0x07|2|", "operand 0x07, not port B"},
            {{0x02, 0x06, 0x01}, "0x02|0x06|1|", "bit outside 2..7"},
            {{0x04, 0xA9, 0x01}, "0x04|||0xa9", "unknown selector"},
            {{0x04, 0x81, 0x00}, "0x04|||0x81", "tail 0x00, not 0x01"},
            {{0x00, 0x00, 0x00}, "0x00|||", "wrong length: 3 bytes, not 1"},
            {{0x01, 0x06, 0x02, 0x00}, "0x01|0x06|2|", "wrong length: 4 bytes, not 3"},
            {{0x01, 0x06}, "0x01|0x06||", "wrong length: 2 bytes, not 3"},
            {{0x04}, "0x04|||", "wrong length: 1 bytes, not 3"},
            {{0xFF}, "0xff|||", "unknown command"},
            {{}, "|||", "wrong length: 0 bytes"},
            // Malformed reads are never answered, so this reply answers no read.
            {{0x00}, "0x00|||", {}},
        };
        QTest::newRow("exchange, read while the simulator runs")
            << QStringList{"--seed", "7", "--drift-ms", "0", "--initial-pb", "0x83"} << exchange
            << true;
        const Steps shortReplies{
            {{0x04, 0xA1, 0x01}, "0x04|||0xa1", {}, kRA5},
            {{0x00}, "0x00|||", {}},
        };
        QTest::newRow("7-byte replies, read after SIGINT")
            << QStringList{"--reply-size", "7"} << shortReplies << false;
    }

    void readsInTheProtocolsTerms() {
        QFETCH(QStringList, args);
        QFETCH(Steps, steps);
        QFETCH(bool, whileRunning);
        QVERIFY2(QFileInfo(kTshark).isExecutable(), "tshark is missing; scripts/setup installs it");
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString capture = work.filePath("board.pcap");

        vardek::test::SimulatorRun run;
        QVERIFY(vardek::test::startSimulator(run, VARDEK_BOARD_SIM, args << "--pcap" << capture,
                                             kWaitMs));
        const QString me = "127.0.0.1|" + QString::number(socket_->localPort());
        const QString board = "127.0.0.1|" + QString::number(run.port);
        QStringList expected;
        int answered = 0;
        for (const Step& step : steps) {
            QCOMPARE(socket_->writeDatagram(reinterpret_cast<const char*>(step.request.data()),
                                            qint64(step.request.size()), QHostAddress::LocalHost,
                                            run.port),
                     qint64(step.request.size()));
            // The C++ name of the request, its first letter capitalised as Info columns are.
            QString info = QString::fromStdString(vardek::link::describeRequest(step.request));
            info[0] = info[0].toUpper();
            if (!step.problem.isEmpty()) {
                info += " [" + step.problem + "]";
            }
            expected
                << QStringList{me,          board,
                               step.fields, "",
                               "",          "",
                               info,        step.problem.isEmpty() ? "" : malformed(step.problem)}
                       .join('|');
            if (step.problem.isEmpty()) {
                QVERIFY(socket_->waitForReadyRead(kWaitMs));
                Bytes reply(std::size_t(socket_->pendingDatagramSize()));
                socket_->readDatagram(reinterpret_cast<char*>(reply.data()), qint64(reply.size()));
                expected << replyRow(board + '|' + me, reply, step.read);
                ++answered;
            }
        }
        // The log line of a reply follows its record in the capture.
        QTRY_COMPARE_WITH_TIMEOUT(run.countLines("Z out "), answered, kWaitMs);
        if (!whileRunning) {
            ::kill(pid_t(run.process.processId()), SIGINT);
            QVERIFY(run.process.waitForFinished(kWaitMs));
            QCOMPARE(run.process.exitCode(), 0);
        }

        QProcess tshark;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // No personal settings, and no personal copy of the dissector (in ~/.local) beside the
        // one under test.
        environment.insert("WIRESHARK_CONFIG_DIR", work.path());
        environment.insert("HOME", work.path());
        tshark.setProcessEnvironment(environment);
        QStringList tsharkArgs{"-X", "lua_script:" VARDEK_DISSECTOR,
                               "-o", "vardek.port:" + QString::number(run.port),
                               "-o", "ip.check_checksum:TRUE",
                               "-o", "udp.check_checksum:TRUE",
                               "-r", capture,
                               "-T", "fields",
                               "-E", "separator=|"};
        for (const QString& field : kFields) {
            tsharkArgs << "-e" << field;
        }
        tshark.start(kTshark, tsharkArgs);
        QVERIFY(tshark.waitForFinished(60000));
        const QString errors = QString::fromUtf8(tshark.readAllStandardError());
        QVERIFY2(tshark.exitCode() == 0, qPrintable(errors));
        QVERIFY2(!errors.contains("Lua Error"), qPrintable(errors));
        const QStringList rows =
            QString::fromUtf8(tshark.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < std::min(rows.size(), expected.size()); ++i) {
            QCOMPARE(rows[i], expected[i]);
        }
        QCOMPARE(rows.size(), expected.size());
    }

  private:
    std::unique_ptr<QUdpSocket> socket_;
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
