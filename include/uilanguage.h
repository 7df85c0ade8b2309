// The interface language. The Chinese texts in the sources are the source
// language and the default; other languages come from the translations
// compiled into the program (translations/). Menus, tool bars, headers,
// dialogs and message boxes follow the language; the message pane, the logs
// and SQL keep their texts.
#pragma once

#include <QString>

namespace uilang {

// The language asked for, as a lower-case code without region ("en_GB.UTF-8"
// gives "en"): the environment variable TARNMON_LANG when it is set and not
// empty, else `language` of the [ui] section of `syscfg` (the working
// directory's syscfg.ini), else "zh".
QString requested(const QString &syscfg = QStringLiteral("syscfg.ini"));

// Puts the application's interface into `language` from now on (widgets made
// afterwards; call it before the main window). "zh" removes any translation.
// False, with a warning in the log, for a language without a translation:
// the interface is then Chinese.
bool apply(const QString &language);

}  // namespace uilang
