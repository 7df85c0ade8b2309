// Names devices give their files: octets in the device's own character set,
// UTF-8 or, on many Chinese devices, GB18030. The device always gets its
// bytes back unchanged (fetch, delete); people and the local disk get the
// decoded text.
#pragma once

#include <QByteArray>
#include <QString>

namespace devfile {

// Longest local file name, in bytes of UTF-8: the stack writes "<name>.part"
// first, which must stay within the 255 bytes of a file name (NAME_MAX).
constexpr int kMaxLocalNameBytes = 250;

// The name as text: UTF-8 when the bytes are well-formed UTF-8, else GB18030
// when every byte decodes. False when neither reads the whole name.
bool decode(const QByteArray &bytes, QString *text);

// The name for the table, the log and the pane: decoded, or (when it does
// not decode) with every byte outside printable ASCII as \xNN.
QString shown(const QByteArray &bytes);

// The local file name of a listed name: the part after its last "/",
// decoded. Empty, with the reason in `why`, unless it is a plain name of one
// file in the working directory: not "." or "..", not hidden (leading "."),
// no "\" and no control, format or replacement characters, at most
// kMaxLocalNameBytes bytes.
QString localName(const QByteArray &listed, QString *why);

}  // namespace devfile
