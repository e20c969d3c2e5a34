#include "host/language.h"

#include <QDir>
#include <QLocale>
#include <QTranslator>

namespace vardek::host {

namespace {

const QString kTranslationsFolder = QStringLiteral(":/i18n");

// The source language first, then each translation embedded, as "ja, en".
std::string languagesOf(const QString& program, std::string_view sourceLanguage) {
    QString languages = QString::fromUtf8(sourceLanguage.data(), sourceLanguage.size());
    const QString prefix = program + QLatin1Char('_');
    const QStringList files =
        QDir(kTranslationsFolder).entryList({prefix + QStringLiteral("*.qm")}, QDir::Files);
    for (const QString& file : files) {
        languages += QStringLiteral(", ") + file.mid(prefix.size()).chopped(3);
    }
    return languages.toStdString();
}

// An unknown name makes the C locale, which speaks no language of its own.
bool namesALanguage(const QString& name) {
    return !name.isEmpty() && QLocale(name).language() != QLocale::C;
}

}  // namespace

std::string languageNameProblem(std::string_view name) {
    if (namesALanguage(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())))) {
        return {};
    }
    // Appended, not "'" + std::string(name): GCC 12 at -O3 takes that for an overlapping copy.
    return std::string("'").append(name).append("' names no language (such as en or ja_JP)");
}

Translation translationInto(std::string_view program, std::string_view sourceLanguage,
                            std::string_view language) {
    const QString name = QString::fromUtf8(language.data(), language.size());
    const QString programName = QString::fromUtf8(program.data(), program.size());
    const QLocale locale(name);
    Translation found;
    if (namesALanguage(name)) {
        if (locale.language() ==
            QLocale(QString::fromUtf8(sourceLanguage.data(), sourceLanguage.size())).language()) {
            return found;
        }
        auto translator = std::make_unique<QTranslator>();
        // Tries the locale's own name, then the language alone: en_GB finds en.
        if (translator->load(locale, programName, QStringLiteral("_"), kTranslationsFolder)) {
            found.translator = std::move(translator);
            return found;
        }
    }
    found.problem = std::string("'")
                        .append(language)
                        .append("' has no translation (there are ")
                        .append(languagesOf(programName, sourceLanguage))
                        .append(")");
    return found;
}

std::unique_ptr<QTranslator> translationForLocale(std::string_view program,
                                                  std::string_view sourceLanguage) {
    const QLocale locale = QLocale::system();
    if (locale.language() ==
        QLocale(QString::fromUtf8(sourceLanguage.data(), sourceLanguage.size())).language()) {
        return nullptr;
    }
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QString::fromUtf8(program.data(), program.size()),
                          QStringLiteral("_"), kTranslationsFolder)) {
        return nullptr;
    }
    return translator;
}

}  // namespace vardek::host
