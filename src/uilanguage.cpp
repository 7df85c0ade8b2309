#include "uilanguage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTranslator>

#include <memory>

#ifdef TARNMON_HAVE_TRANSLATIONS
// Registers the compiled catalogues (translations/CMakeLists.txt); a call from
// here also keeps them in the program when it links this library statically.
static void registerCatalogues() { Q_INIT_RESOURCE(tarnmon_translations); }
#else
static void registerCatalogues() {}
#endif

namespace uilang {

namespace {

// The language of the source texts: no translator.
const QString kSource = QStringLiteral("zh");

// The translator apply() installed (GUI thread).
std::unique_ptr<QTranslator> &installed() {
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

QString code(const QString &name) {
    QString c = name.trimmed().toLower();
    // A locale name: the language part only ("en_US.UTF-8", "en-GB", "zh_CN").
    const int cut = c.indexOf(QRegularExpression(QStringLiteral("[_.@-]")));
    if (cut >= 0) c.truncate(cut);
    return c;
}

}  // namespace

QString requested(const QString &syscfg) {
    QString name = code(qEnvironmentVariable("TARNMON_LANG"));
    if (name.isEmpty() && QFileInfo::exists(syscfg))
        name = code(QSettings(syscfg, QSettings::IniFormat).value(QStringLiteral("ui/language")).toString());
    return name.isEmpty() ? kSource : name;
}

bool apply(const QString &language) {
    std::unique_ptr<QTranslator> &current = installed();
    if (current) {
        QCoreApplication::removeTranslator(current.get());
        current.reset();
    }
    const QString lang = code(language);
    if (lang.isEmpty() || lang == kSource) return true;
    registerCatalogues();
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/i18n/tarnmon_%1.qm").arg(lang))) {
        qWarning().noquote() << "interface language" << lang << "has no translation; the interface stays in Chinese";
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    current = std::move(translator);
    return true;
}

}  // namespace uilang
