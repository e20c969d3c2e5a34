// vardek-trend: a VARDEK board's readings over time, sampled live or read from a log, in a chart
// or drawn to an image.
#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QSvgGenerator>

#include <exception>
#include <memory>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "desktop/program_start.h"
#include "host/board_settings.h"
#include "host/language.h"
#include "tools/trend/live_sampler.h"
#include "tools/trend/log_samples.h"
#include "tools/trend/trend_chart.h"
#include "tools/trend/trend_options.h"
#include "tools/trend/trend_window.h"

namespace {

using namespace vardek::trend;
namespace cli = vardek::cli;

constexpr const char* kProgram = "vardek-trend";
// Live, the time window opened on; a file is opened on all of it.
constexpr std::int64_t kLiveWindowMs = 600'000;

void complain(const QString& message) { cli::complain(kProgram, message.toStdString()); }

// Started from a desktop menu, the program has no terminal to say it on: a box too.
int fail(const QString& message, int status) {
    complain(message);
    vardek::desktop::showBox(message);
    return status;
}

vardek::host::Translation translationInto(std::string_view language) {
    return vardek::host::translationInto(kProgram, "en", language);
}

std::unique_ptr<QTranslator> translationForLocale() {
    return vardek::host::translationForLocale(kProgram, "en");
}

int exportChart(const TrendOptions& options) {
    Trace trace;
    LogSource source(options.file);
    QObject::connect(&source, &LogSource::samplesRead,
                     [&trace](const std::vector<Sample>& samples) { trace.append(samples); });
    QObject::connect(&source, &LogSource::problemFound, &complain);
    if (const QString problem = source.read(false); !problem.isEmpty()) {
        complain(problem);
        return source.refusedKind() ? cli::kBadUsage : cli::kFailed;
    }
    TrendChart chart(trace);
    chart.setWindow(options.windowMs.value_or(0));
    chart.setLimits(seriesLimits(options.limits));
    std::vector<Note> notes;
    if (const QString problem = readNotes(notesPath(options.file), notes); !problem.isEmpty()) {
        complain(problem);
    }
    chart.setNotes(std::move(notes));
    const QString& path = options.exportPath;
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(options.size);
        svg.setViewBox(QRect(QPoint(0, 0), options.size));
        chart.renderTo(svg, options.size);
        if (QFileInfo(path).size() > 0) {
            return cli::kSucceeded;
        }
    } else {
        QImage image(options.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        chart.renderTo(image, options.size);
        if (image.save(path)) {
            return cli::kSucceeded;
        }
    }
    complain(CommandLine::tr("%1 could not be written").arg(path));
    return cli::kFailed;
}

// The window on a log file, read whole, then followed as it grows with --follow.
int chartFile(const TrendOptions& options) {
    TrendWindow window;
    LogSource source(options.file);
    QObject::connect(&source, &LogSource::samplesRead, &window,
                     [&window](const std::vector<Sample>& samples) { window.addSamples(samples); });
    QObject::connect(&source, &LogSource::problemFound, &window, [&window](const QString& problem) {
        complain(problem);
        window.showProblem(problem);
    });
    window.setSource(QFileInfo(options.file).fileName());
    window.setWindow(options.windowMs.value_or(0));
    window.setLimits(seriesLimits(options.limits));
    if (const QString problem = window.setNotesFile(notesPath(options.file)); !problem.isEmpty()) {
        complain(problem);
        window.showProblem(problem);
    }
    if (const QString problem = source.read(options.follow); !problem.isEmpty()) {
        return fail(problem, source.refusedKind() ? cli::kBadUsage : cli::kFailed);
    }
    window.setPins(source.pins());
    window.show();
    QApplication::exec();
    return cli::kSucceeded;
}

// The window on the board sampled live, every sample appended to --log's file as it comes. A
// stop signal ends the run between two samples, so the log ends with a whole row.
int chartLive(const TrendOptions& options, const std::string& address) {
    // Filled field by field: GCC 12 at -O3 takes the designated initializer's string for one that
    // may be used uninitialized once it is moved.
    SamplerConfig config;
    config.address = address;
    config.interval = options.interval;
    config.timeout = options.timeout;
    config.pins = pinsOf(options.pins);
    std::unique_ptr<LiveSampler> sampler;
    try {
        sampler = std::make_unique<LiveSampler>(std::move(config));
    } catch (const std::exception& error) {
        return fail(QString::fromLocal8Bit(error.what()), cli::kFailed);
    }
    LogSink log;
    if (!options.log.isEmpty()) {
        if (const QString problem = log.open(options.log, options.pins); !problem.isEmpty()) {
            return fail(problem, cli::kFailed);
        }
    }
    TrendWindow window;
    // A problem of the log is told once, until it changes.
    QObject::connect(sampler.get(), &LiveSampler::sampleTaken, &window,
                     [&window, &log, logging = !options.log.isEmpty(),
                      shownProblem = QString()](const vardek::readings::Sample& sample) mutable {
                         window.addSamples({fromReadings(sample)});
                         if (!logging) {
                             return;
                         }
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
                     });
    QObject::connect(sampler.get(), &LiveSampler::problemFound, &window, &TrendWindow::showProblem);
    window.setPins(pinsOf(options.pins));
    window.setSource(CommandLine::tr("%1, every %2 ms")
                         .arg(QString::fromStdString(address))
                         .arg(options.interval.count()));
    window.setWindow(options.windowMs.value_or(kLiveWindowMs));
    window.setLimits(seriesLimits(options.limits));
    if (!options.log.isEmpty()) {
        if (const QString problem = window.setNotesFile(notesPath(options.log));
            !problem.isEmpty()) {
            complain(problem);
            window.showProblem(problem);
        }
    }
    sampler->start();
    window.show();
    QApplication::exec();
    // A sample the log could not take when it came is a log that is not whole.
    return log.failed() ? cli::kFailed : cli::kSucceeded;
}

}  // namespace

int main(int argc, char* argv[]) {
    const ParsedOptions parsed = parseOptions(cli::arguments(argc, argv));
    if (const auto status = parsed.answered(kProgram, VARDEK_VERSION, helpText())) {
        return *status;
    }
    const TrendOptions& options = parsed.options;
    // An export draws without a window, so it needs no display, whatever the session has.
    if (!options.exportPath.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Live, the board is chosen and checked as the window chooses it: the command line before the
    // settings file, before the address built in. Japanese under a Japanese locale, English
    // otherwise: --language, then the settings file's language=, before the locale.
    const bool live = options.file.isEmpty();
    const vardek::host::ChosenBoard board =
        live ? vardek::host::chooseBoard(options.board, VARDEK_BOARD_ADDRESS)
             : vardek::host::ChosenBoard{};
    const vardek::desktop::Program program{.name = kProgram,
                                           .version = VARDEK_VERSION,
                                           .desktopFileName = kProgram,
                                           .translationInto = &translationInto,
                                           .translationForLocale = &translationForLocale};
    return vardek::desktop::run(argc, argv, program, live ? &board : nullptr,
                                vardek::host::chooseLanguage(options.language), [&] {
                                    if (!options.exportPath.isEmpty()) {
                                        return exportChart(options);
                                    }
                                    return live ? chartLive(options, board.address)
                                                : chartFile(options);
                                });
}
