#pragma once

#include "BrushSettings.h"
#include "Graftal.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <memory>

class BrushPanel;
class GraftalPainter;
class Logger;
class QAction;
class QActionGroup;
class QLabel;
class QSpinBox;
class QToolBar;

// The panel around the painter: hands it the level chosen elsewhere, writes every change
// back into the graftal, and owns the colour and the painter's two toolbars.
class TextureManager : public QWidget
{
    Q_OBJECT
public:
    explicit TextureManager(QWidget *parent = nullptr);
    ~TextureManager() override;

    // Builds the painter and its toolbars; called once, right after construction.
    void setupToolBar();
    // Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y undo and redo the painter's history, and Ctrl++,
    // Ctrl+- and Ctrl+0 zoom it, while the focus is anywhere in `area` (the panel itself
    // from the start), also in one of its boxes or buttons.
    void coverColumnShortcuts(QWidget *area);

    GraftalPainter *painter() const { return painterWidget; }
    QToolBar *toolBar() const { return bar; }
    // The second row: brush, the newer tools, images in and out.
    QToolBar *brushToolBar() const { return brushBar; }
    Graftal *currentGraftal() const { return graftal; }
    QColor color() const { return drawColor; }
    QAction *colorAction() const { return colorButton; }
    // An action of either toolbar by its text.
    QAction *action(const QString &text) const;
    QSpinBox *brushSizeBox() const { return sizeBox; }
    QSpinBox *opacityBox() const { return strengthBox; }
    BrushPanel *brushPanel() const { return brushChoices; }

    // Gives the painter every brush choice, shows them and remembers them.
    void applyBrush(const BrushSettings &brush);
    // Saves the painter's brush as the preset `name` and lists it.
    void saveBrushPreset(const QString &name);

    // Brings the image file into the edited image of the current level (one undo step);
    // false with the reason shown to the user, and nothing changed, when it cannot be read.
    bool importImage(const QString &path);
    bool exportLevel(const QString &path);

signals:
    void graftalPixmapChanged(Graftal *g);
    void pixmapSelected(QPair<QPixmap, QPixmap> pair);

public slots:
    void graftalSelected(Graftal *g);
    void setPixmapIndex(int i);
    void pixmapChanged();
    void selectColor();
    void selectObjectColor();
    void chooseImportFile();
    void chooseExportFile();

private:
    void applyColor();
    void buildBrushBar(QActionGroup *mouseTools);
    void addBrushChoices();
    void rememberBrush();
    void showSwatch();

    std::unique_ptr<Logger> logger;
    Graftal *graftal = nullptr;
    GraftalPainter *painterWidget = nullptr;
    QToolBar *bar = nullptr;
    QToolBar *brushBar = nullptr;
    QSpinBox *sizeBox = nullptr;
    QSpinBox *strengthBox = nullptr;
    QLabel *zoomLabel = nullptr;
    BrushPanel *brushChoices = nullptr;
    QAction *mirrorButton = nullptr;
    QList<BrushPreset> presets;
    QPixmap swatch{16, 16};
    QColor drawColor = Qt::black;
    QAction *colorButton = nullptr;
    QAction *undoButton = nullptr;
    // Ctrl++, Ctrl+- and Ctrl+0 for the painter, wherever the focus is in the column.
    QList<QAction *> zoomKeys;
    QAction *redoButton = nullptr;
};
