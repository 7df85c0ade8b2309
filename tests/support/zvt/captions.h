// The captions a window shows a user (window title, buttons, labels, group
// boxes, combo box items, tabs, table headers, menus, tool bars), with the
// room each one's widget gives it: for the checks that every caption is
// translated and fits, in the forms and the main window.
#pragma once

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QList>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolBar>
#include <QWidget>

#include <string>

namespace zvt::captions {

struct Caption {
    QString where;  // object name, or "header 2 of tableView"
    QString text;
    int need = 0;   // pixels the text takes (wide, or high when it wraps)
    int room = -1;  // pixels the widget gives it; -1: sized to the text
};

inline bool chinese(const QString &text) {
    for (const QChar c : text)
        if (c.script() == QChar::Script_Han || (c.unicode() >= 0x3000 && c.unicode() <= 0x303f) ||
            (c.unicode() >= 0xff00 && c.unicode() <= 0xffef))
            return true;
    return false;
}

inline QString plain(const QString &text) {
    if (!Qt::mightBeRichText(text)) return text;
    QTextDocument doc;
    doc.setHtml(text);
    return doc.toPlainText();
}

inline int advance(const QWidget *w, const QString &text) { return w->fontMetrics().horizontalAdvance(plain(text)); }

inline void addActions(const QString &where, const QList<QAction *> &actions, QList<Caption> *out) {
    for (QAction *a : actions) {
        if (a->isSeparator()) continue;
        out->append({where + " action", a->text()});
        if (a->menu() != nullptr) addActions(a->text(), a->menu()->actions(), out);
    }
}

// The captions of a window and of every widget in it that the user sees.
inline QList<Caption> captionsOf(QWidget *top) {
    QList<Caption> out;
    out.append({QStringLiteral("window title"), top->windowTitle()});
    for (QWidget *w : top->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(top)) continue;
        const QString name = w->objectName();
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            out.append({name, b->text(), advance(b, b->text()), b->width() - 8});  // the frame and its padding
        } else if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w)) {
            auto *b = static_cast<QAbstractButton *>(w);
            const int indicator = b->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) +
                                  b->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b);
            out.append({name, b->text(), advance(b, b->text()), b->width() - indicator});
        } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
            out.append({name, b->text()});  // tool buttons size themselves
        } else if (auto *l = qobject_cast<QLabel *>(w)) {
            // A word-wrapped label must hold its lines in its height.
            if (l->wordWrap())
                out.append({name, l->text(), l->heightForWidth(l->contentsRect().width()), l->contentsRect().height()});
            else
                out.append({name, l->text(), advance(l, l->text()), l->contentsRect().width()});
        } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
            out.append({name, g->title(), advance(g, g->title()), g->width() - 16});
        } else if (auto *c = qobject_cast<QComboBox *>(w)) {
            if (c->isEditable()) continue;
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            const int room =
                c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c).width();
            for (int i = 0; i < c->count(); ++i)
                out.append({name + " item", c->itemText(i), advance(c, c->itemText(i)), room});
        } else if (auto *t = qobject_cast<QTabWidget *>(w)) {
            for (int i = 0; i < t->count(); ++i) out.append({name + " tab", t->tabText(i)});
        } else if (auto *h = qobject_cast<QHeaderView *>(w)) {
            const auto *view = qobject_cast<QAbstractItemView *>(h->parentWidget());
            if (view == nullptr || h->model() == nullptr || h->orientation() != Qt::Horizontal) continue;
            const int margin = 2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
            for (int i = 0; i < h->count(); ++i) {
                if (h->isSectionHidden(i)) continue;
                const QString text = h->model()->headerData(i, Qt::Horizontal).toString();
                out.append({QStringLiteral("header %1 of %2").arg(i).arg(view->objectName()), text,
                            h->fontMetrics().horizontalAdvance(text) + margin, h->sectionSize(i)});
            }
        } else if (auto *m = qobject_cast<QMenuBar *>(w)) {
            addActions(name, m->actions(), &out);
        } else if (auto *bar = qobject_cast<QToolBar *>(w)) {
            out.append({name + " title", bar->windowTitle()});
            for (QAction *a : bar->actions()) {
                if (a->isSeparator()) continue;
                // An action that does not fit the window goes into the tool bar's extension menu.
                QWidget *button = bar->widgetForAction(a);
                out.append({name + " action", a->text(), 0, button != nullptr && button->isVisible() ? -1 : -2});
            }
        }
    }
    return out;
}

// For the failure messages: one caption a line.
inline std::string listed(const QStringList &lines) { return lines.join(QLatin1Char('\n')).toStdString(); }

inline QStringList chineseCaptions(const QList<Caption> &captions) {
    QStringList left;
    for (const Caption &c : captions)
        if (chinese(c.text)) left << c.where + ": " + c.text;
    return left;
}

inline QStringList clippedCaptions(const QList<Caption> &captions) {
    QStringList clipped;
    for (const Caption &c : captions) {
        if (c.room == -2)
            clipped << c.where + " \"" + c.text + "\" hidden: the tool bar is too narrow";
        else if (c.room >= 0 && !c.text.isEmpty() && c.need > c.room)
            clipped << QStringLiteral("%1 \"%2\" needs %3 has %4").arg(c.where, c.text).arg(c.need).arg(c.room);
    }
    return clipped;
}

}  // namespace zvt::captions
