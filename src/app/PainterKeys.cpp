#include "PainterKeys.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>

PainterKeys::PainterKeys(QWidget &painterWidget, QObject *parent)
    : QObject(parent), painter(painterWidget)
{
    qApp->installEventFilter(this);
}

PainterKeys::~PainterKeys()
{
    qApp->removeEventFilter(this);
}

bool PainterKeys::isPainterKey(int key, Qt::KeyboardModifiers modifiers, const QString &text)
{
    const bool control = modifiers & Qt::ControlModifier;
    if (control)
        return key == Qt::Key_Plus || key == Qt::Key_Equal || key == Qt::Key_Minus ||
               key == Qt::Key_0;
    return text == QLatin1String("[") || text == QLatin1String("]") || key == Qt::Key_I;
}

bool PainterKeys::editingText(const QWidget *focus)
{
    if (const auto *line = qobject_cast<const QLineEdit *>(focus))
        return !line->isReadOnly();
    if (const auto *combo = qobject_cast<const QComboBox *>(focus))
        return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox *>(focus) ||
           qobject_cast<const QTextEdit *>(focus) || qobject_cast<const QPlainTextEdit *>(focus);
}

bool PainterKeys::pointerOverPainter() const
{
    return painter.isVisible() && painter.rect().contains(painter.mapFromGlobal(QCursor::pos()));
}

bool PainterKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    // Only the painter's own window, never a dialog's fields.
    if (widget->window() != painter.window() || widget == &painter)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    QWidget *focus = QApplication::focusWidget();
    if (editingText(focus)) {
        const bool leaves = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                            key->key() == Qt::Key_Escape;
        // The field takes Return first (its editing finishes), then lets the focus go.
        if (leaves && focus == widget)
            QTimer::singleShot(0, focus, [field = QPointer<QWidget>(focus)] {
                if (field && field->hasFocus())
                    field->clearFocus();
            });
        return false;
    }
    if (!isPainterKey(key->key(), key->modifiers(), key->text()) || !pointerOverPainter())
        return false;
    QKeyEvent forwarded(key->type(), key->key(), key->modifiers(), key->text(),
                        key->isAutoRepeat(), key->count());
    QCoreApplication::sendEvent(&painter, &forwarded);
    return true;
}
