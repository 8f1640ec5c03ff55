#pragma once

#include <QObject>

class QWidget;

// The painter's keys go where the user means them: `[`, `]`, `I` and Ctrl++, Ctrl+-,
// Ctrl+0 act on the painter while the pointer is over it, whatever widget has the focus,
// unless a text field is being edited. Return or Escape leaves a text field of the window,
// so that the keys after it reach the painter again. Filters the application's events.
class PainterKeys : public QObject
{
    Q_OBJECT
public:
    PainterKeys(QWidget &painter, QObject *parent);
    ~PainterKeys() override;

    static bool isPainterKey(int key, Qt::KeyboardModifiers modifiers, const QString &text);
    static bool editingText(const QWidget *focus);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool pointerOverPainter() const;

    QWidget &painter;
};
