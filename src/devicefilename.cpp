#include "devicefilename.h"

#include <QStringDecoder>

namespace devfile {

namespace {

// Whole-name decoding: a truncated sequence at the end is an error, not
// state kept for more bytes.
bool decodeAs(const char *encoding, const QByteArray &bytes, QString *text) {
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    if (!decoder.isValid()) return false;
    QString out = decoder.decode(bytes);
    if (decoder.hasError()) return false;
    *text = out;
    return true;
}

QString refusal(const char *why) { return QString::fromLatin1(why); }

QString hex(unsigned value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

}  // namespace

bool decode(const QByteArray &bytes, QString *text) {
    return decodeAs("UTF-8", bytes, text) || decodeAs("GB18030", bytes, text);
}

QString shown(const QByteArray &bytes) {
    QString text;
    if (decode(bytes, &text)) return text;
    QString out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x") + hex(u, 2);
    }
    return out;
}

QString localName(const QByteArray &listed, QString *why) {
    // "/" (0x2F) is no byte of a multi-byte GB18030 or UTF-8 character, so
    // the raw name splits at it before decoding.
    const QByteArray part = listed.mid(listed.lastIndexOf('/') + 1);
    QString text;
    QString reason;
    if (part.isEmpty())
        reason = refusal("no file name after the last '/'");
    else if (!decode(part, &text))
        reason = refusal("neither UTF-8 nor GB18030");
    else if (text == QLatin1String(".") || text == QLatin1String(".."))
        reason = refusal("names a folder");
    else if (text.startsWith(QLatin1Char('.')))
        reason = refusal("begins with '.'");
    else if (text.contains(QLatin1Char('\\')))
        reason = refusal("contains '\\'");
    else if (text.toUtf8().size() > kMaxLocalNameBytes)
        reason = QStringLiteral("longer than %1 bytes as UTF-8").arg(kMaxLocalNameBytes);
    for (int i = 0; reason.isEmpty() && i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar::Category cat = c.category();
        if (cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Separator_Line ||
            cat == QChar::Separator_Paragraph || c == QChar::ReplacementCharacter || c.isNonCharacter())
            reason = QStringLiteral("character U+%1 may not be in a file name").arg(hex(c.unicode(), 4));
    }
    if (!reason.isEmpty()) {
        if (why != nullptr) *why = reason;
        return {};
    }
    return text;
}

}  // namespace devfile
