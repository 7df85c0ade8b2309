// How a window's handlers on_<object>_<signal>() are wired. The forms
// connect nothing by name: a handler that lost its typed connect() would
// never run, and one connected by name as well would run twice per click
// (an operate sent twice). Header only; Qt Core.
#pragma once

#include <QMetaMethod>
#include <QObject>
#include <QStringList>

namespace zvt {

// One line per handler of `window` that is not connected exactly as the
// windows do it: "<handler>: <what is wrong>". Empty when every handler is
// connected to its object's signal by a typed connect() and none by name.
// Disconnects what it checks: use a window made for the check.
inline QStringList miswiredHandlers(QObject *window) {
    QStringList out;
    const QMetaObject *mo = window->metaObject();
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
        const QMetaMethod handler = mo->method(i);
        const QByteArray name = handler.name();
        if (handler.methodType() != QMetaMethod::Slot || !name.startsWith("on_")) continue;
        const QString line = QString::fromLatin1(name) + QStringLiteral(": ");
        const int cut = name.lastIndexOf('_');
        const QString object = QString::fromLatin1(name.mid(3, cut - 3));
        const QByteArray signalName = name.mid(cut + 1);
        QObject *child = cut > 3 ? window->findChild<QObject *>(object) : nullptr;
        if (child == nullptr) {
            out << line + QStringLiteral("no object ") + object;
            continue;
        }
        QMetaMethod signal;
        const QMetaObject *cmo = child->metaObject();
        for (int k = 0; k < cmo->methodCount() && !signal.isValid(); ++k) {
            const QMetaMethod m = cmo->method(k);
            if (m.methodType() == QMetaMethod::Signal && m.name() == signalName &&
                !(m.attributes() & QMetaMethod::Cloned))
                signal = m;
        }
        if (!signal.isValid()) {
            out << line + object + QStringLiteral(" has no signal ") + QString::fromLatin1(signalName);
            continue;
        }
        // Disconnecting by the handler's own method finds only connections
        // made by name (SIGNAL/SLOT, connectSlotsByName); any method finds
        // the typed ones as well.
        if (QObject::disconnect(child, signal, window, handler))
            out << line + QStringLiteral("connected by name");
        else if (!QObject::disconnect(child, signal, window, QMetaMethod()))
            out << line + QStringLiteral("not connected");
    }
    return out;
}

}  // namespace zvt
