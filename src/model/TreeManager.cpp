#include "TreeManager.h"

#include "Graftal.h"
#include "Logger.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTreeWidget>
#include <limits>

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
    connect(&autosaveTimer, &QTimer::timeout, this, &TreeManager::autosave);
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
    QStringList warnings;
    for (const QString &file : files) {
        QString error;
        std::unique_ptr<Graftal> loaded = Graftal::load(file.left(file.size() - 4), error);
        if (!error.isEmpty())
            continue; // damaged: not listed, and so never saved over
        Graftal *g = take(std::move(loaded));
        warnings += g->loadWarnings();
        emit graftalAdded(g);
        QTreeWidgetItem *item = appendItem(g);
        if (!first)
            first = item;
        graftalsByItem[item] = g;
        graftalsById[int(g->id())] = g;
    }

    static const QRegularExpression untitled(QStringLiteral("^Untitled (\\d+)$"));
    qint64 largestUntitled = 0;
    qint64 largestId = 0;
    for (Graftal *g : std::as_const(graftalsById)) {
        const QRegularExpressionMatch m = untitled.match(g->name());
        bool ok = false;
        const qint64 n = m.hasMatch() ? m.captured(1).toLongLong(&ok) : 0;
        // A number too large to count on from is no number of ours.
        if (ok && n < std::numeric_limits<qint64>::max())
            largestUntitled = std::max(largestUntitled, n);
    }
    for (Graftal *g : std::as_const(graftalsById)) {
        ids.append(int(g->id()));
        usedIds.insert(g->id());
        largestId = std::max(largestId, qint64(g->id()));
    }
    nextUntitled = largestUntitled + 1;
    nextId = largestId + 1;

    if (!warnings.isEmpty())
        emit problemReported(warnings.size() == 1
                                 ? warnings.first()
                                 : QStringLiteral("%1 level images could not be read; their "
                                                  "levels are shown empty and the files are "
                                                  "kept as they are: %2")
                                       .arg(warnings.size())
                                       .arg(warnings.join(QStringLiteral("; "))));

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
    saveGraftals(listedGraftals(), false);
}

unsigned int TreeManager::allocateId()
{
    unsigned int id = 0;
    if (nextId <= qint64(std::numeric_limits<unsigned int>::max())) {
        id = static_cast<unsigned int>(nextId++);
    } else {
        // Past the largest id there is: the smallest one nobody uses.
        id = 1;
        while (usedIds.contains(id))
            ++id;
    }
    usedIds.insert(id);
    ids.append(int(id));
    return id;
}

void TreeManager::addGraftal()
{
    const qint64 n = nextUntitled;
    if (nextUntitled < std::numeric_limits<qint64>::max())
        ++nextUntitled;
    const QString name = QStringLiteral("Untitled %1").arg(n);
    const unsigned int id = allocateId();
    Graftal *g = take(Graftal::create(int(id), name));
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
    // Every listed graftal, also two that share an id.
    saveGraftals(listedGraftals(), true);
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

bool TreeManager::baseNameTaken(const QString &base, const Graftal *g) const
{
    if (g->ownsBaseName(base))
        return false;
    for (const Graftal *other : std::as_const(graftalsByItem))
        if (other != g && (other->fileName() == base || other->ownsBaseName(base)))
            return true;
    // Files on disk that are not this graftal's own (a damaged graftal left unlisted,
    // level images without a parameter file) are never written over either.
    return QFileInfo::exists(Graftal::Directory + QLatin1Char('/') + base +
                             QStringLiteral(".xml")) ||
           !Graftal::levelFiles(base).isEmpty();
}

void TreeManager::assignUniqueFileName(Graftal *g)
{
    // A graftal on disk keeps its own files until it is renamed.
    if (!g->storedFileName().isEmpty() && !g->renamedSinceStored()) {
        g->setFileName(g->storedFileName());
        return;
    }
    // A name without any letter or digit still gets a visible file name, and a very
    // long one a file name the file system can hold.
    constexpr int LongestBase = 200;
    QString natural = Graftal::fileNameFor(g->name()).left(LongestBase);
    if (natural.isEmpty())
        natural = QStringLiteral("Unnamed");

    // Keep the current file name while it still fits the name and is free.
    const QString currentName = g->fileName();
    const bool fitsName =
        currentName == natural ||
        QRegularExpression(QStringLiteral("^%1_\\d+$").arg(QRegularExpression::escape(natural)))
            .match(currentName)
            .hasMatch();
    if (fitsName && !baseNameTaken(currentName, g))
        return;
    QString candidate = natural;
    for (qint64 n = 2; baseNameTaken(candidate, g); ++n)
        candidate = QStringLiteral("%1_%2").arg(natural).arg(n);
    g->setFileName(candidate);
}

bool TreeManager::saveGraftal(Graftal *g, QString *error)
{
    assignUniqueFileName(g);
    return g->save(error);
}

QStringList TreeManager::saveGraftals(const QList<Graftal *> &graftals, bool interactive)
{
    QStringList failures;
    for (Graftal *g : graftals) {
        QString error;
        if (!saveGraftal(g, &error))
            failures.append(QStringLiteral("\"%1\":\n%2").arg(g->name(), error));
    }
    if (failures.isEmpty())
        return failures;
    logger->error(QStringLiteral("%1 graftal(s) could not be saved").arg(failures.size()));
    if (interactive)
        QMessageBox::warning(tree->window(), QStringLiteral("Save failed"),
                             QStringLiteral("These graftals could not be saved completely:\n\n%1")
                                 .arg(failures.join(QStringLiteral("\n\n"))));
    return failures;
}

void TreeManager::startAutosave(int intervalMs)
{
    autosaveTimer.setInterval(std::max(intervalMs, 1));
    autosaveTimer.start();
}

void TreeManager::autosave()
{
    QList<Graftal *> changed;
    for (Graftal *g : listedGraftals())
        if (g->hasUnsavedChanges())
            changed.append(g);
    if (changed.isEmpty())
        return;
    const QStringList failures = saveGraftals(changed, false);
    if (failures.isEmpty()) {
        if (autosaveFailing) {
            autosaveFailing = false;
            logger->info(QStringLiteral("autosave writes every change again"));
            emit problemReported(QString());
        }
        return;
    }
    if (autosaveFailing)
        return; // told once already; the next attempts go on quietly
    autosaveFailing = true;
    const QString what = QString(failures.first()).replace(QLatin1Char('\n'), QLatin1Char(' '));
    logger->error(QStringLiteral("autosave failed: %1").arg(what));
    emit problemReported(
        QStringLiteral("Autosave failed, changes are not on disk yet: %1%2")
            .arg(what, failures.size() > 1 ? QStringLiteral(" (and more)") : QString()));
}
