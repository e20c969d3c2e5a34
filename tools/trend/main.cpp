// vardek-trend: a VARDEK board's readings over time, sampled live or read from a log, in a chart
// or drawn to an image.
#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QSvgGenerator>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include "host/board_settings.h"
#include "host/language.h"
#include "tools/trend/live_sampler.h"
#include "tools/trend/log_samples.h"
#include "tools/trend/trend_chart.h"
#include "tools/trend/trend_options.h"
#include "tools/trend/trend_window.h"

namespace {

using namespace vardek::trend;

enum ExitStatus { kDone = 0, kFailed = 1, kBadUsage = 2 };

constexpr const char* kProgram = "vardek-trend";
// Live, the time window opened on; a file is opened on all of it.
constexpr std::int64_t kLiveWindowMs = 600'000;

void endAtQtsFatalMessage(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type == QtFatalMsg) {
        std::_Exit(kBadUsage);
    }
}

void complain(const QString& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, qPrintable(message));
}

// Started from a desktop menu, the program has no terminal to say it on: a box too.
int fail(const QString& message, int status) {
    complain(message);
    if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
        QMessageBox::critical(nullptr, QStringLiteral("vardek-trend"), message);
    }
    return status;
}

int exportChart(const TrendOptions& options) {
    Trace trace;
    LogSource source(options.file);
    source.OnSamples = [&trace](std::vector<Sample> samples) { trace.append(std::move(samples)); };
    source.OnProblem = [](const QString& problem) { complain(problem); };
    if (const QString problem = source.read(false); !problem.isEmpty()) {
        complain(problem);
        return source.refusedKind() ? kBadUsage : kFailed;
    }
    TrendChart chart(trace);
    chart.setWindow(options.windowMs.value_or(0));
    const QString& path = options.exportPath;
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(options.size);
        svg.setViewBox(QRect(QPoint(0, 0), options.size));
        chart.renderTo(svg, options.size);
        if (QFileInfo(path).size() > 0) {
            return kDone;
        }
    } else {
        QImage image(options.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        chart.renderTo(image, options.size);
        if (image.save(path)) {
            return kDone;
        }
    }
    complain(CommandLine::tr("%1 could not be written").arg(path));
    return kFailed;
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int index = 1; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    const ParsedOptions parsed = parseOptions(arguments);
    switch (parsed.outcome) {
        case ParsedOptions::Outcome::Help:
            std::fputs(qPrintable(parsed.text), stdout);
            return kDone;
        case ParsedOptions::Outcome::Version:
            std::printf("%s %s\n", kProgram, VARDEK_VERSION);
            return kDone;
        case ParsedOptions::Outcome::BadUsage:
            complain(parsed.text);
            std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
            return kBadUsage;
        case ParsedOptions::Outcome::Run:
            break;
    }
    const TrendOptions& options = parsed.options;

    // An export draws without a window, so it needs no display, whatever the session has.
    if (!options.exportPath.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Live, the board is chosen and checked as the window chooses it: the command line before the
    // settings file, before the address built in.
    vardek::host::ChosenBoard board;
    if (options.file.isEmpty()) {
        board = vardek::host::chooseBoard(
            options.board ? std::optional(options.board->toStdString()) : std::nullopt,
            VARDEK_BOARD_ADDRESS);
        if (!board.problem.empty()) {
            complain(QString::fromStdString(board.problem));
            if (board.file.empty()) {
                return kBadUsage;
            }
            // Started from a desktop menu, the program has no terminal: the refusal in a box
            // too, and without a display, where Qt would end the program before any box can
            // open, the status of the refusal rather than Qt's abort.
            qInstallMessageHandler(endAtQtsFatalMessage);
        }
    }

    // Japanese under a Japanese locale, English otherwise: --language, then the settings file's
    // language=, before the locale. One without a translation is refused, as the window refuses
    // it.
    const vardek::host::ChosenLanguage language = vardek::host::chooseLanguage(options.language);
    vardek::host::Translation translation;
    if (!language.problem.empty()) {
        complain(QString::fromStdString(language.problem));
        return kBadUsage;
    }
    if (language.name) {
        translation = vardek::host::translationInto(kProgram, "en", *language.name);
        if (!translation.problem.empty()) {
            complain(QString::fromStdString((language.file.empty()
                                                 ? "--language "
                                                 : language.file + ": " +
                                                       std::string(vardek::host::kLanguageKey) +
                                                       "=" + *language.name + ": ") +
                                            translation.problem));
            return kBadUsage;
        }
    } else {
        translation.translator = vardek::host::translationForLocale(kProgram, "en");
    }

    // The program takes no command line of Qt's.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    if (translation.translator) {
        QCoreApplication::installTranslator(translation.translator.get());
    }
    QApplication::setApplicationName(QString::fromLatin1(kProgram));
    QApplication::setApplicationVersion(QStringLiteral(VARDEK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("vardek-trend"));
    if (!options.exportPath.isEmpty()) {
        return exportChart(options);
    }
    if (!board.problem.empty()) {
        QMessageBox::critical(nullptr, QStringLiteral("vardek-trend"),
                              QString::fromStdString(board.problem));
        return kBadUsage;
    }

    TrendWindow window;
    std::unique_ptr<LogSource> source;
    std::unique_ptr<LiveSampler> sampler;
    LogSink log;
    if (!options.file.isEmpty()) {
        source = std::make_unique<LogSource>(options.file);
        source->OnSamples = [&window](std::vector<Sample> samples) {
            window.addSamples(std::move(samples));
        };
        source->OnProblem = [&window](const QString& problem) {
            complain(problem);
            window.showProblem(problem);
        };
        window.setSource(QFileInfo(options.file).fileName());
        window.setWindow(options.windowMs.value_or(0));
        if (const QString problem = source->read(options.follow); !problem.isEmpty()) {
            return fail(problem, source->refusedKind() ? kBadUsage : kFailed);
        }
        window.setPins(source->pins());
    } else {
        // Filled field by field: GCC 12 at -O3 takes the nested designated initializer's
        // string for one that may be used uninitialized once it is moved.
        SamplerConfig config;
        config.endpoint.RemoteHost = board.address;
        config.interval = options.interval;
        config.timeout = options.timeout;
        config.pins = options.pins;
        try {
            sampler = std::make_unique<LiveSampler>(std::move(config));
        } catch (const std::exception& error) {
            return fail(QString::fromLocal8Bit(error.what()), kFailed);
        }
        if (!options.log.isEmpty()) {
            if (const QString problem = log.open(options.log, options.pins); !problem.isEmpty()) {
                return fail(problem, kFailed);
            }
        }
        sampler->OnSample = [&window, &log, logging = !options.log.isEmpty(),
                             shownProblem = QString()](const Sample& sample) mutable {
            window.addSamples({sample});
            if (logging) {
                QString notice;
                const QString problem = log.append(sample, notice);
                if (!notice.isEmpty()) {
                    complain(notice);
                    window.showProblem(notice);
                }
                if (!problem.isEmpty() && problem != shownProblem) {
                    complain(problem);
                    window.showProblem(problem);
                }
                shownProblem = problem;
            }
        };
        sampler->OnError = [&window](const std::string& problem) {
            window.showProblem(QString::fromLocal8Bit(problem.c_str()));
        };
        window.setPins(pinsOf(options.pins));
        window.setSource(CommandLine::tr("%1, every %2 ms")
                             .arg(QString::fromStdString(board.address))
                             .arg(options.interval.count()));
        window.setWindow(options.windowMs.value_or(kLiveWindowMs));
        sampler->start();
    }
    window.show();
    const int status = QApplication::exec();
    // A sample the log could not take when it came is a log that is not whole.
    return log.failed() && status == kDone ? kFailed : status;
}
