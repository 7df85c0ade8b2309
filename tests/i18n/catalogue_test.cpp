// The English catalogue against the sources: lupdate brings a copy of
// translations/tarnmon_en.ts up to date with them, and every text it holds
// then has a finished translation that keeps the source's placeholders.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

struct Message {
    QString context;
    QString source;
    QString translation;
    QString type;  // "", "unfinished", "vanished", "obsolete"
};

// The messages of a .ts file; an empty list with `error` set when it does not parse.
QList<Message> readCatalogue(const QString &path, QString *error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = "cannot open " + path;
        return {};
    }
    QList<Message> messages;
    QXmlStreamReader xml(&f);
    QString context;
    Message m;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            m = Message{context, {}, {}, {}};
        } else if (xml.name() == QLatin1String("source")) {
            m.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            m.type = xml.attributes().value(QLatin1String("type")).toString();
            m.translation = xml.readElementText();
            messages << m;
        }
    }
    if (xml.hasError()) {
        *error = path + ": " + xml.errorString();
        return {};
    }
    return messages;
}

QString describe(const Message &m) { return m.context + " \"" + m.source + "\""; }

// The catalogue as lupdate leaves it after reading the sources.
QList<Message> currentCatalogue(QString *error) {
    static QTemporaryDir dir;
    const QString ts = dir.filePath(QStringLiteral("tarnmon_en.ts"));
    QFile::remove(ts);
    if (!QFile::copy(QStringLiteral(ZV_SOURCE_ROOT "/translations/tarnmon_en.ts"), ts)) {
        *error = QStringLiteral("cannot copy translations/tarnmon_en.ts");
        return {};
    }
    QFile::setPermissions(ts, QFile::ReadOwner | QFile::WriteOwner);
    const QString lupdate = QStringLiteral(ZV_LUPDATE);
    if (lupdate.isEmpty() || lupdate.endsWith(QLatin1String("NOTFOUND")) || !QFile::exists(lupdate)) {
        *error = QStringLiteral("lupdate of Qt 6 not found (Debian package qt6-l10n-tools)");
        return {};
    }
    QProcess p;
    p.setWorkingDirectory(QStringLiteral(ZV_SOURCE_ROOT));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(lupdate, QString::fromUtf8(ZV_LUPDATE_ARGS).split(QLatin1Char('|')) << QStringLiteral("-ts") << ts);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = "lupdate failed: " + QString::fromLocal8Bit(p.readAll());
        return {};
    }
    return readCatalogue(ts, error);
}

TEST(Catalogue, EveryTextOfTheSourcesHasAFinishedEnglishTranslation) {
    QString error;
    const QList<Message> messages = currentCatalogue(&error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_GT(messages.size(), 100);  // the sources were read
    QStringList untranslated;
    for (const Message &m : messages) {
        if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete")) continue;
        if (!m.type.isEmpty() || m.translation.isEmpty()) untranslated << describe(m);
    }
    EXPECT_EQ(untranslated, QStringList())
        << "texts without an English translation: bring translations/tarnmon_en.ts up to date "
           "(cmake --build build --target update_translations) and translate them";
}

// A translation that drops or adds %1..%9 shows a wrong text (and QString::arg warns).
TEST(Catalogue, TranslationsKeepThePlaceholdersAndLineBreaksOfTheirSource) {
    QString error;
    const QList<Message> messages = readCatalogue(QStringLiteral(ZV_SOURCE_ROOT "/translations/tarnmon_en.ts"), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    static const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
    const auto marks = [](const QString &text) {
        QStringList found;
        for (auto it = placeholder.globalMatch(text); it.hasNext();) found << it.next().captured();
        found.sort();
        return found.join(QLatin1Char(' ')) + " lines:" + QString::number(text.count(QLatin1Char('\n')));
    };
    QStringList differing;
    for (const Message &m : messages)
        if (marks(m.source) != marks(m.translation)) differing << describe(m) + " -> \"" + m.translation + "\"";
    EXPECT_EQ(differing, QStringList());
}

}  // namespace
