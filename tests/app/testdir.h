// A fresh working directory for one test, left again at the end.
#pragma once

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <ostream>

// Readable QString output in assertion messages.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList &l, std::ostream *os) {
    *os << "[" << l.size() << "]{";
    for (int i = 0; i < l.size() && i < 5; ++i) *os << (i ? ", " : "") << '"' << l[i].toStdString() << '"';
    *os << (l.size() > 5 ? ", ...}" : "}");
}

class ScopedWorkDir {
public:
    ScopedWorkDir() : m_old(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(m_old); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_old;
};
