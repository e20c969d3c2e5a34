#include "host/results_location.h"

#include <QDir>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

#include "link/board_address.h"

namespace vardek::host {

namespace {

bool isServer(std::string_view text) {
    return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

// The reason `text` is no location, or empty; fills `location` when it is one.
std::string examine(std::string_view text, std::string_view base, ResultsLocation& location) {
    if (text.empty()) {
        return "is empty";
    }
    if (std::ranges::any_of(text, [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
        return link::quotedForMessage(text) + " holds a control character";
    }
    if (!isServer(text)) {
        if (text.find("://") != std::string_view::npos) {
            return link::quotedForMessage(text) + " is neither a file path nor a postgresql:// URI";
        }
        location.kind = ResultsLocation::Kind::File;
        location.text = std::string(text);
        const QString path = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        location.path =
            (base.empty()
                 ? QDir::current()
                 : QDir(QString::fromUtf8(base.data(), static_cast<qsizetype>(base.size()))))
                .absoluteFilePath(path)
                .toStdString();
        return {};
    }
    const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                   QUrl::StrictMode);
    // Messages name the URI without its password.
    const std::string shown =
        url.isValid() ? url.toString(QUrl::RemovePassword).toStdString() : std::string(text);
    if (!url.isValid()) {
        return link::quotedForMessage(shown) + " is not a URI: " + url.errorString().toStdString();
    }
    const QString database = url.path().mid(1);
    if (database.isEmpty() || database.contains(QLatin1Char('/'))) {
        return link::quotedForMessage(shown) +
               " names no database (postgresql://[USER@]HOST[:PORT]/DATABASE)";
    }
    location.kind = ResultsLocation::Kind::Server;
    location.text = shown;
    location.database = database.toStdString();
    location.user = url.userName().toStdString();
    location.password = url.password().toStdString();
    location.host = url.host().toStdString();
    if (url.port() > 0) {
        location.port = url.port();
    }
    // libpq's form for a Unix socket: postgresql:///DATABASE?host=/run/postgresql
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("host")) {
            location.host = value.toStdString();
        } else {
            return link::quotedForMessage(shown) + " sets '" + key.toStdString() +
                   "', which the store does not take (only host=)";
        }
    }
    return {};
}

}  // namespace

std::string resultsLocationProblem(std::string_view text) {
    ResultsLocation location;
    return examine(text, {}, location);
}

std::optional<ResultsLocation> parseResultsLocation(std::string_view text, std::string_view base) {
    ResultsLocation location;
    if (!examine(text, base, location).empty()) {
        return std::nullopt;
    }
    return location;
}

}  // namespace vardek::host
