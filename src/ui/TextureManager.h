#pragma once

#include "Graftal.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <memory>

class GraftalPainter;
class Logger;
class QAction;
class QActionGroup;
class QToolBar;

// The panel around the painter: hands it the level chosen elsewhere, writes every change
// back into the graftal, and owns the colour and the painter's toolbar.
class TextureManager : public QWidget
{
    Q_OBJECT
public:
    explicit TextureManager(QWidget *parent = nullptr);
    ~TextureManager() override;

    // Builds the painter and its toolbar; called once, right after construction.
    void setupToolBar();

    GraftalPainter *painter() const { return painterWidget; }
    QToolBar *toolBar() const { return bar; }
    Graftal *currentGraftal() const { return graftal; }
    QColor color() const { return drawColor; }
    QAction *colorAction() const { return colorButton; }
    QAction *action(const QString &text) const;

signals:
    void graftalPixmapChanged(Graftal *g);
    void pixmapSelected(QPair<QPixmap, QPixmap> pair);

public slots:
    void graftalSelected(Graftal *g);
    void setPixmapIndex(int i);
    void pixmapChanged();
    void selectColor();
    void selectObjectColor();

private:
    void applyColor();

    std::unique_ptr<Logger> logger;
    Graftal *graftal = nullptr;
    GraftalPainter *painterWidget = nullptr;
    QToolBar *bar = nullptr;
    QPixmap swatch{16, 16};
    QColor drawColor = Qt::black;
    QAction *colorButton = nullptr;
};
