#include "TreeManager.h"

#include "Graftal.h"
#include "Logger.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTreeWidget>

namespace {
std::unique_ptr<TreeManager> theLibrary;
}

TreeManager *TreeManager::instance(QTreeWidget *tree)
{
    if (!theLibrary)
        theLibrary = std::make_unique<TreeManager>(tree);
    return theLibrary.get();
}

void TreeManager::destroyInstance()
{
    theLibrary.reset();
}

TreeManager::TreeManager(QTreeWidget *tree)
    : logger(std::make_unique<Logger>(QStringLiteral("app.treemanager"))), tree(tree)
{
    if (tree)
        connect(tree, &QTreeWidget::currentItemChanged, this,
                [this](QTreeWidgetItem *item, QTreeWidgetItem *) { graftalSelected(item); });
}

TreeManager::~TreeManager() = default;

Graftal *TreeManager::take(std::unique_ptr<Graftal> g)
{
    owned.push_back(std::move(g));
    return owned.back().get();
}

QTreeWidgetItem *TreeManager::appendItem(Graftal *g)
{
    auto *item = new QTreeWidgetItem(QStringList{g->name()});
    tree->addTopLevelItem(item);
    return item;
}

bool TreeManager::loadAllGraftals()
{
    const QStringList files =
        QDir(Graftal::Directory).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    QTreeWidgetItem *first = nullptr;
    for (const QString &file : files) {
        QString error;
        std::unique_ptr<Graftal> loaded = Graftal::load(file.left(file.size() - 4), error);
        if (!error.isEmpty())
            continue; // damaged: not listed, and so never saved over
        Graftal *g = take(std::move(loaded));
        emit graftalAdded(g);
        QTreeWidgetItem *item = appendItem(g);
        if (!first)
            first = item;
        graftalsByItem[item] = g;
        graftalsById[int(g->id())] = g;
    }

    static const QRegularExpression untitled(QStringLiteral("^Untitled (\\d+)$"));
    int largestUntitled = 0;
    int largestId = 0;
    for (Graftal *g : std::as_const(graftalsById)) {
        const QRegularExpressionMatch m = untitled.match(g->name());
        if (m.hasMatch())
            largestUntitled = std::max(largestUntitled, m.captured(1).toInt());
    }
    for (Graftal *g : std::as_const(graftalsById)) {
        ids.append(int(g->id()));
        largestId = std::max(largestId, int(g->id()));
    }
    nextUntitled = largestUntitled + 1;
    nextId = largestId + 1;

    // Two stored graftals whose names map to one file name get distinct files now,
    // before either is saved over the other.
    for (Graftal *g : std::as_const(graftalsByItem))
        assignUniqueFileName(g);

    if (first)
        tree->setCurrentItem(first);
    return first != nullptr;
}

Graftal *TreeManager::graftalById(int id) const
{
    return graftalsById.value(id, nullptr);
}

bool TreeManager::containsId(int id) const
{
    return ids.contains(id);
}

QList<Graftal *> TreeManager::listedGraftals() const
{
    QList<Graftal *> list;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        list.append(graftalsByItem.value(tree->topLevelItem(i)));
    return list;
}

void TreeManager::treeAction(QAction *a)
{
    switch (a->data().toInt()) {
    case 1:
        addGraftal();
        break;
    case 2:
        if (current)
            saveGraftals({current}, true);
        break;
    default:
        break;
    }
}

void TreeManager::graftalSelected(QTreeWidgetItem *i)
{
    current = i ? graftalsByItem.value(i, nullptr) : nullptr;
    emit selectedChanged(current);
}

void TreeManager::beforeQuitHook()
{
    saveGraftals(graftalsByItem.values(), false);
}

void TreeManager::addGraftal()
{
    const int n = nextUntitled++;
    const QString name = QStringLiteral("Untitled %1").arg(n);
    ids.append(nextId);
    const int id = nextId++;
    Graftal *g = take(Graftal::create(id, name));
    QTreeWidgetItem *item = appendItem(g);
    graftalsById[int(g->id())] = g;
    emit graftalAdded(g);
    graftalsByItem[item] = g;
    assignUniqueFileName(g);
    tree->setCurrentItem(item);
}

void TreeManager::saveCurrentGraftal()
{
    QWidget *window = tree->window();
    window->setCursor(Qt::WaitCursor);
    if (current)
        saveGraftals({current}, true);
    window->setCursor(Qt::ArrowCursor);
}

void TreeManager::saveAllGraftals()
{
    QWidget *window = tree->window();
    window->setCursor(Qt::WaitCursor);
    saveGraftals(graftalsById.values(), true);
    window->setCursor(Qt::ArrowCursor);
}

void TreeManager::flushChangedTexturesToOpenGL()
{
    for (Graftal *g : std::as_const(graftalsByItem))
        if (g->texturesDirty)
            emit reloadTextures(g);
}

void TreeManager::graftalPixmapChanged(Graftal *g)
{
    g->texturesDirty = true;
    emit pixmapUpdated(g, g->currentLevel);
    emit reloadTextures(g);
}

void TreeManager::graftalParametersChanged(Graftal *g)
{
    for (auto it = graftalsByItem.cbegin(); it != graftalsByItem.cend(); ++it)
        if (it.value() == g) {
            it.key()->setText(0, g->name());
            return;
        }
}

void TreeManager::setSelected(Graftal *g)
{
    for (auto it = graftalsByItem.cbegin(); it != graftalsByItem.cend(); ++it)
        if (it.value() == g) {
            current = g;
            tree->setCurrentItem(it.key());
            emit selectedChanged(g);
            return;
        }
}

void TreeManager::assignUniqueFileName(Graftal *g)
{
    // A name without any letter or digit still gets a visible file name.
    QString natural = Graftal::fileNameFor(g->name());
    if (natural.isEmpty())
        natural = QStringLiteral("Unnamed");

    auto takenByOther = [&](const QString &candidate) {
        for (const Graftal *other : std::as_const(graftalsByItem)) {
            if (other == g)
                continue;
            if (other->fileName() == candidate || other->storedFileName() == candidate)
                return true;
        }
        // Files on disk that are not this graftal's own (for example a damaged graftal
        // that was left unlisted) are never overwritten either.
        return candidate != g->storedFileName() &&
               QFileInfo::exists(Graftal::Directory + QLatin1Char('/') + candidate +
                                 QStringLiteral(".xml"));
    };

    // Keep the current file name while it still fits the name and is free.
    const QString currentName = g->fileName();
    const bool fitsName =
        currentName == natural ||
        QRegularExpression(QStringLiteral("^%1_\\d+$").arg(QRegularExpression::escape(natural)))
            .match(currentName)
            .hasMatch();
    if (fitsName && !takenByOther(currentName))
        return;
    QString candidate = natural;
    for (int n = 2; takenByOther(candidate); ++n)
        candidate = QStringLiteral("%1_%2").arg(natural).arg(n);
    g->setFileName(candidate);
}

bool TreeManager::saveGraftal(Graftal *g, QString *error)
{
    assignUniqueFileName(g);
    return g->save(error);
}

void TreeManager::saveGraftals(const QList<Graftal *> &graftals, bool interactive)
{
    QStringList failures;
    for (Graftal *g : graftals) {
        QString error;
        if (!saveGraftal(g, &error))
            failures.append(QStringLiteral("\"%1\":\n%2").arg(g->name(), error));
    }
    if (failures.isEmpty())
        return;
    logger->error(QStringLiteral("%1 graftal(s) could not be saved").arg(failures.size()));
    if (interactive)
        QMessageBox::warning(tree->window(), QStringLiteral("Save failed"),
                             QStringLiteral("These graftals could not be saved completely:\n\n%1")
                                 .arg(failures.join(QStringLiteral("\n\n"))));
}
