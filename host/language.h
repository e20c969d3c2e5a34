// The language a program's window speaks: the source texts that its code holds, or one of the
// translations embedded in it by qt_add_translations, as :/i18n/<program>_<language>.qm.
#pragma once

#include <QTranslator>

#include <memory>
#include <string>
#include <string_view>

namespace vardek::host {

struct Translation {
    // To install in the application; null for the source language, whose texts need none.
    std::unique_ptr<QTranslator> translator;
    // Empty when the language is spoken; otherwise what is wrong, naming the languages there are.
    std::string problem;
};

// Empty when `name` names a language as a locale does ("en", "en_GB", "ja_JP"); otherwise why
// not, as a phrase that names it. Whether a program has a translation into it is for the
// program to say.
std::string languageNameProblem(std::string_view name);

// The translation of `program`'s texts, whose source language is `sourceLanguage`, into
// `language`, named as a locale is ("en", "en_GB", "ja_JP").
Translation translationInto(std::string_view program, std::string_view sourceLanguage,
                            std::string_view language);

// The translation of `program`'s texts into the language of the user's locale (LANGUAGE,
// LC_ALL, LC_MESSAGES, LANG), when it has one; null otherwise, for the source texts.
std::unique_ptr<QTranslator> translationForLocale(std::string_view program,
                                                  std::string_view sourceLanguage);

}  // namespace vardek::host
