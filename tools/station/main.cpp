// vardek-station: the operator's window for a rack of VARDEK boards, driving check's engine.
#include <QApplication>

#include <memory>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "desktop/program_start.h"
#include "host/board_settings.h"
#include "host/language.h"
#include "tools/station/rack_engine.h"
#include "tools/station/station_options.h"
#include "tools/station/station_window.h"

namespace {

using namespace vardek::station;
namespace cli = vardek::cli;
namespace host = vardek::host;

constexpr const char* kProgram = "vardek-station";

host::Translation translationInto(std::string_view language) {
    return host::translationInto(kProgram, "en", language);
}

std::unique_ptr<QTranslator> translationForLocale() {
    return host::translationForLocale(kProgram, "en");
}

// Started from a desktop menu, the program has no terminal to say it on: a box too.
int fail(const QString& message) {
    cli::complain(kProgram, message.toStdString());
    vardek::desktop::showBox(message);
    return cli::kBadUsage;
}

int station(const StationOptions& options) {
    StationConfig config;
    config.boards = options.boards;
    config.port = options.port;
    config.timeoutMs = options.timeoutMs;
    config.retries = options.retries;
    config.check = options.check;
    config.station = options.station;
    config.reportDir = options.reportDir;
    config.ask = options.ask;
    config.version = std::string(kProgram) + ' ' + VARDEK_VERSION;
    // The store is opened before the window, as check opens it before touching a board.
    std::string problem;
    config.results = host::chooseResultsLocation(options.results, problem);
    if (!problem.empty()) {
        return fail(QString::fromStdString(problem));
    }
    QString refused;
    const std::unique_ptr<RackEngine> engine = RackEngine::open(std::move(config), refused);
    if (!engine) {
        return fail(refused);
    }
    StationWindow window(*engine);
    QObject::connect(engine.get(), &Engine::problemFound,
                     [](const QString& said) { cli::complain(kProgram, said.toStdString()); });
    window.show();
    QApplication::exec();
    // A stop signal ends Qt's loop at once: the run still going is stopped here, its outputs
    // put back and its records written, before the program ends.
    engine->finishAfterLoop();
    return cli::kSucceeded;
}

}  // namespace

int main(int argc, char* argv[]) {
    const ParsedOptions parsed = parseOptions(cli::arguments(argc, argv));
    if (const auto status = parsed.answered(kProgram, VARDEK_VERSION, helpText())) {
        return *status;
    }
    const StationOptions& options = parsed.options;
    const vardek::desktop::Program program{.name = kProgram,
                                           .version = VARDEK_VERSION,
                                           .desktopFileName = kProgram,
                                           .translationInto = &translationInto,
                                           .translationForLocale = &translationForLocale};
    return vardek::desktop::run(argc, argv, program, nullptr,
                                host::chooseLanguage(options.language),
                                [&] { return station(options); });
}
