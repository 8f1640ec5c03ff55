#include "TreeManager.h"

#include "LevelMemory.h"

#include "Graftal.h"
#include "Logger.h"
#include "SafeFile.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTreeWidget>
#include <algorithm>
#include <limits>

namespace {
// The library's graftals tell the level memory when they go, so the memory is made first
// and outlives the library even when the process ends through exit() from elsewhere (Xlib
// ends it so when the display goes away): statics are destroyed in reverse order.
std::unique_ptr<TreeManager> &theLibrary()
{
    LevelMemory::instance();
    static std::unique_ptr<TreeManager> library;
    return library;
}
} // namespace

TreeManager *TreeManager::instance(QTreeWidget *tree)
{
    std::unique_ptr<TreeManager> &library = theLibrary();
    if (!library)
        library = std::make_unique<TreeManager>(tree);
    return library.get();
}

void TreeManager::destroyInstance()
{
    theLibrary().reset();
}

TreeManager::TreeManager(QTreeWidget *graftalTree)
    : logger(std::make_unique<Logger>(QStringLiteral("app.treemanager"))), tree(graftalTree)
{
    if (tree)
        connect(tree, &QTreeWidget::currentItemChanged, this,
                [this](QTreeWidgetItem *item, QTreeWidgetItem *) { graftalSelected(item); });
    connect(&autosaveTimer, &QTimer::timeout, this, &TreeManager::autosave);
}

TreeManager::~TreeManager() = default;

Graftal *TreeManager::take(std::unique_ptr<Graftal> g)
{
    connect(g.get(), &Graftal::problemFound, this, &TreeManager::problemReported);
    owned.push_back(std::move(g));
    return owned.back().get();
}

void TreeManager::list(Graftal *g)
{
    listed.append(g);
    if (!tree)
        return; // a library without a window: its list is all there is
    auto *item = new QTreeWidgetItem(QStringList{g->name()});
    tree->addTopLevelItem(item);
    graftalsByItem[item] = g;
}

void TreeManager::select(Graftal *g)
{
    if (tree) {
        // Through the tree's current item, which tells graftalSelected.
        for (auto it = graftalsByItem.cbegin(); it != graftalsByItem.cend(); ++it)
            if (it.value() == g) {
                tree->setCurrentItem(it.key());
                return;
            }
        return;
    }
    current = g;
    emit selectedChanged(g);
}

bool TreeManager::loadAllGraftals()
{
    // The directory is read once; every stored graftal keeps the files it was loaded from.
    // Links and special files are never graftal files: a shared pack could point them
    // anywhere.
    QStringList entries;
    QStringList refusals;
    QSet<QString> refusedParameterFiles;
    const QString prefix = Graftal::Directory + QLatin1Char('/');
    for (const QString &file :
         QDir(Graftal::Directory)
             .entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const bool ours =
            file.endsWith(QLatin1String(".xml")) || file.endsWith(QLatin1String(".png"));
        const safefile::Kind kind = safefile::kindOf(prefix + file);
        if (kind == safefile::Kind::Regular) {
            entries.append(file);
        } else if (ours && kind != safefile::Kind::Missing) {
            refusals.append(safefile::refusal(prefix + file, kind));
            // Its level files belong to it still: never taken for leftovers of a rename.
            if (file.endsWith(QLatin1String(".xml")))
                refusedParameterFiles.insert(file.chopped(4));
        }
    }
    for (const QString &name : safefile::undecodableNames(Graftal::Directory))
        if (name.endsWith(QLatin1String(".xml")) || name.endsWith(QLatin1String(".png")))
            refusals.append(
                QStringLiteral("%1%2 has a name that is not valid UTF-8; Tuftmill leaves "
                               "it alone")
                    .arg(prefix, name));
    const QHash<QString, QStringList> levelFiles = Graftal::levelFilesByBase(entries);
    for (const QString &refused : std::as_const(refusals))
        logger->warn(refused);
    QList<Graftal *> loaded;
    QSet<QString> parameterFiles = refusedParameterFiles;
    int skippedGraftals = 0;
    for (const QString &file : entries) {
        if (!file.endsWith(QLatin1String(".xml")))
            continue;
        const QString base = file.chopped(4);
        parameterFiles.insert(base);
        if (loaded.size() >= MaxGraftals) {
            ++skippedGraftals;
            continue;
        }
        QString error;
        std::unique_ptr<Graftal> g = Graftal::load(base, error, levelFiles.value(base));
        if (error.isEmpty()) // damaged or no graftal: not listed, and so never saved over
            loaded.append(take(std::move(g)));
        else
            refusals += g->loadWarnings();
    }
    if (skippedGraftals > 0) {
        refusals.append(QStringLiteral("graftals/ holds more graftals than Tuftmill reads: the "
                                       "first %1 are listed, %2 more are left as they are")
                            .arg(MaxGraftals)
                            .arg(skippedGraftals));
        logger->warn(refusals.last());
    }
    settleLoadedIds(loaded);
    // A rename cut short (the parameter file moved, its old level files not yet removed)
    // leaves level files without a parameter file under a base the graftal's name gives:
    // its name, or its name made unique ("Leaf_2").
    QHash<QString, QList<Graftal *>> byNaturalBase;
    for (Graftal *g : std::as_const(loaded))
        byNaturalBase[Graftal::naturalBaseName(g->name())].append(g);
    static const QRegularExpression madeUnique(QStringLiteral("^(.*)_\\d+$"));
    for (auto it = levelFiles.cbegin(); it != levelFiles.cend(); ++it) {
        const QString &base = it.key();
        if (parameterFiles.contains(base))
            continue;
        QList<Graftal *> candidates = byNaturalBase.value(base);
        const QRegularExpressionMatch m = madeUnique.match(base);
        if (m.hasMatch())
            candidates += byNaturalBase.value(m.captured(1));
        for (Graftal *g : std::as_const(candidates)) {
            if (g->storedFileName() == base)
                continue;
            logger->info(QStringLiteral("level files of %1 without a parameter file are left "
                                        "over from \"%2\" and go at its next save")
                             .arg(base, g->name()));
            g->adoptLeftovers(it.value());
            break;
        }
    }

    QStringList warnings = refusals;
    static const QRegularExpression untitled(QStringLiteral("^Untitled (\\d+)$"));
    qint64 largestUntitled = 0;
    for (Graftal *g : std::as_const(loaded)) {
        warnings += g->loadWarnings();
        emit graftalAdded(g);
        list(g);

        const QRegularExpressionMatch m = untitled.match(g->name());
        bool ok = false;
        const qint64 n = m.hasMatch() ? m.captured(1).toLongLong(&ok) : 0;
        // A number too large to count on from is no number of ours.
        if (ok && n < std::numeric_limits<qint64>::max())
            largestUntitled = std::max(largestUntitled, n);
    }
    nextUntitled = largestUntitled + 1;

    if (!warnings.isEmpty())
        emit problemReported(
            warnings.size() == 1
                ? warnings.first()
                : QStringLiteral("%1 files of graftals/ could not be used and "
                                 "are kept as they are: %2")
                      .arg(warnings.size())
                      .arg(warnings.mid(0, 3).join(QStringLiteral("; ")) +
                           (warnings.size() > 3 ? QStringLiteral("; ...") : QString())));

    recordKnownIds();
    if (!loaded.isEmpty())
        select(loaded.first());
    return !loaded.isEmpty();
}

void TreeManager::settleLoadedIds(const QList<Graftal *> &loaded)
{
    // Of graftals sharing an id, the one on files named as this library names them keeps it:
    // after its name, else after its name made unique ("Leaf_2"), else the first file. So
    // painted scenes go on meaning the original rather than a copy ("Leaf_2 (copy)"); the
    // others, and graftals whose stored id cannot be held, get fresh ids that their next
    // save keeps.
    const auto rank = [](const Graftal *g) {
        const QString natural = Graftal::naturalBaseName(g->name());
        const QString &base = g->storedFileName();
        if (base == natural)
            return 0;
        const bool madeUnique =
            base.size() > natural.size() + 1 && base.startsWith(natural) &&
            base[natural.size()] == QLatin1Char('_') &&
            std::all_of(base.cbegin() + natural.size() + 1, base.cend(),
                        [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
        return madeUnique ? 1 : 2;
    };
    // Between files ranked alike, the older parameter file: a copy is made after its original.
    const auto written = [](const Graftal *g) {
        return QFileInfo(Graftal::Directory + QLatin1Char('/') + g->storedFileName() +
                         QStringLiteral(".xml"))
            .lastModified();
    };
    // A graftal this workspace already knew under its id keeps it, whatever files came
    // since: a pack's graftal never takes the id of one of the user's own.
    knownIds = readKnownIds();
    const QHash<unsigned int, QString> &known = knownIds;
    const auto knownOwner = [&](const Graftal *g) {
        const auto it = known.constFind(g->id());
        return it != known.cend() && it.value() == g->storedFileName();
    };
    QHash<unsigned int, Graftal *> owners;
    for (Graftal *g : loaded) {
        if (g->storedIdUnusable())
            continue;
        Graftal *&owner = owners[g->id()];
        if (!owner || (knownOwner(g) && !knownOwner(owner)))
            owner = g;
        else if (knownOwner(owner) || knownOwner(g))
            continue;
        else if (rank(g) < rank(owner) || (rank(g) == rank(owner) && written(g) < written(owner)))
            owner = g;
    }
    // Ids of graftals known here but not listed this time (a file refused for now) stay
    // theirs: never handed to a newcomer.
    qint64 largestId = 0;
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        usedIds.insert(it.key());
        largestId = std::max(largestId, qint64(it.key()));
    }
    for (Graftal *g : loaded)
        if (owners.value(g->id()) == g && !g->storedIdUnusable()) {
            ids.append(int(g->id()));
            usedIds.insert(g->id());
            graftalsById[int(g->id())] = g;
            largestId = std::max(largestId, qint64(g->id()));
        }
    nextId = largestId + 1;
    for (Graftal *g : loaded) {
        if (graftalsById.value(int(g->id())) == g && !g->storedIdUnusable())
            continue;
        const QString why = g->storedIdUnusable()
                                ? QStringLiteral("its stored id is no id of 32 bits")
                                : QStringLiteral("%1.xml has the same id %2")
                                      .arg(owners.value(g->id())->storedFileName())
                                      .arg(g->id());
        const unsigned int id = allocateId();
        logger->warn(QStringLiteral("graftal \"%1\" of %2.xml gets the new id %3: %4")
                         .arg(g->name(), g->storedFileName())
                         .arg(id)
                         .arg(why));
        g->setId(id);
        graftalsById[int(id)] = g;
    }
}

QString TreeManager::idsFileName()
{
    return Graftal::Directory + QStringLiteral("/.tuftmill-ids");
}

QHash<unsigned int, QString> TreeManager::readKnownIds()
{
    QHash<unsigned int, QString> known;
    QByteArray bytes;
    QString why;
    if (!safefile::exists(idsFileName()))
        return known;
    if (!safefile::read(idsFileName(), qint64(16) << 20, bytes, why)) {
        logger->warn(QStringLiteral("the ids this workspace has seen are unknown: %1").arg(why));
        return known;
    }
    knownIdsContent = bytes;
    for (const QByteArray &line : bytes.split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (line.startsWith('#') || tab <= 0)
            continue;
        bool ok = false;
        const unsigned int id = line.left(tab).toUInt(&ok);
        if (ok)
            known.insert(id, QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(tab + 1))));
    }
    return known;
}

void TreeManager::recordKnownIds()
{
    // Every graftal on disk with the id it has there, so that the next start tells the
    // workspace's own graftals from files added since.
    QList<QPair<unsigned int, QString>> records;
    QSet<unsigned int> recorded;
    QSet<QString> bases;
    for (const std::unique_ptr<Graftal> &g : owned) {
        bases.insert(g->storedFileName());
        if (!g->storedFileName().isEmpty() && graftalsById.value(int(g->id())) == g.get()) {
            records.append({g->id(), g->storedFileName()});
            recorded.insert(g->id());
        }
    }
    // Those known from before and not listed now, while their file is there.
    for (auto it = knownIds.cbegin(); it != knownIds.cend(); ++it)
        if (!recorded.contains(it.key()) && !bases.contains(it.value()) &&
            safefile::exists(Graftal::Directory + QLatin1Char('/') + it.value() +
                             QStringLiteral(".xml")))
            records.append({it.key(), it.value()});
    std::sort(records.begin(), records.end());
    QByteArray content("# The graftal ids this workspace has seen, and the files they are on\n");
    for (const auto &record : std::as_const(records))
        content += QByteArray::number(record.first) + '\t' +
                   record.second.toUtf8().toPercentEncoding() + '\n';
    if (!recordingIds || content == knownIdsContent || !QFileInfo(Graftal::Directory).isDir())
        return;
    QString why;
    if (safefile::write(idsFileName(), content, why))
        knownIdsContent = content;
    else
        logger->warn(QStringLiteral("the ids of the graftals could not be recorded: %1").arg(why));
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
    return listed;
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

QList<Graftal *> TreeManager::changedGraftals() const
{
    QList<Graftal *> changed;
    for (Graftal *g : listedGraftals())
        if (g->hasUnsavedChanges() || g->hasLeftoverFiles())
            changed.append(g);
    return changed;
}

QStringList TreeManager::saveChangedGraftals()
{
    // Only what changed: files nobody touched stay exactly as they are.
    return saveGraftals(changedGraftals(), false);
}

void TreeManager::beforeQuitHook()
{
    saveChangedGraftals();
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
    addNew(take(Graftal::create(int(id), name)));
}

void TreeManager::addNew(Graftal *g)
{
    list(g);
    graftalsById[int(g->id())] = g;
    emit graftalAdded(g);
    assignUniqueFileName(g);
    select(g);
}

Graftal *TreeManager::duplicateGraftal(Graftal *g)
{
    if (!g || !listed.contains(g))
        return nullptr;
    Graftal *copy = take(g->duplicate(int(allocateId()), g->name() + QStringLiteral(" copy")));
    addNew(copy);
    return copy;
}

QString TreeManager::removedDirectory()
{
    return Graftal::Directory + QStringLiteral("/.removed");
}

bool TreeManager::moveAway(const QString &file, QString &why)
{
    const QString path = Graftal::Directory + QLatin1Char('/') + file;
    if (QFile::moveToTrash(path))
        return true;
    // No desktop trash here: a folder of our own beside the graftals, never over a file.
    if (!QDir().mkpath(removedDirectory())) {
        why = QStringLiteral("%1 could not be made").arg(removedDirectory());
        return false;
    }
    QString target = removedDirectory() + QLatin1Char('/') + file;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = QStringLiteral("%1/%2.%3").arg(removedDirectory(), file).arg(n);
    if (QFile::rename(path, target))
        return true;
    why =
        QStringLiteral("%1 could not be moved to the trash or to %2").arg(path, removedDirectory());
    return false;
}

bool TreeManager::removeGraftal(Graftal *g, QString *why)
{
    if (!g || !listed.contains(g))
        return false;
    // What was drawn and not saved goes with the files.
    if (g->hasUnsavedChanges())
        saveGraftal(g);
    QStringList files = g->storedFiles();
    // Level files first, the parameter file last: files left by a failure still belong to
    // a listed graftal.
    std::stable_partition(files.begin(), files.end(),
                          [](const QString &f) { return !f.endsWith(QLatin1String(".xml")); });
    for (const QString &file : std::as_const(files)) {
        QString failure;
        if (!moveAway(file, failure)) {
            logger->error(failure);
            if (why)
                *why = failure;
            return false;
        }
    }
    logger->info(QStringLiteral("\"%1\" removed; its files went to the trash").arg(g->name()));
    listed.removeOne(g);
    for (auto it = graftalsByItem.begin(); it != graftalsByItem.end(); ++it)
        if (it.value() == g) {
            QTreeWidgetItem *item = it.key();
            graftalsByItem.erase(it);
            delete item;
            break;
        }
    if (graftalsById.value(int(g->id())) == g)
        graftalsById.remove(int(g->id()));
    ids.removeOne(int(g->id()));
    emit graftalRemoved(g);
    if (current == g) {
        current = nullptr;
        if (!listed.isEmpty())
            select(listed.first());
        else
            addGraftal();
    }
    recordKnownIds();
    return true;
}

void TreeManager::saveCurrentGraftal()
{
    setWindowCursor(Qt::WaitCursor);
    if (current)
        saveGraftals({current}, true);
    setWindowCursor(Qt::ArrowCursor);
}

void TreeManager::saveAllGraftals()
{
    setWindowCursor(Qt::WaitCursor);
    // Every listed graftal, also two that share an id.
    saveGraftals(listedGraftals(), true);
    setWindowCursor(Qt::ArrowCursor);
}

void TreeManager::setWindowCursor(Qt::CursorShape shape)
{
    if (tree)
        tree->window()->setCursor(shape);
}

void TreeManager::flushChangedTexturesToOpenGL()
{
    for (Graftal *g : tree ? graftalsByItem.values() : listed)
        if (g->texturesDirty)
            emit reloadTextures(g);
}

void TreeManager::graftalPixmapChanged(Graftal *g)
{
    g->texturesDirty = true;
    emit pixmapUpdated(g, g->currentLevel);
    emit reloadTextures(g);
}

void TreeManager::graftalLevelsChanged(Graftal *g)
{
    g->texturesDirty = true;
    emit pixmapUpdated(g, 0);
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
    if (!listed.contains(g))
        return;
    // A new current item tells through graftalSelected, once; otherwise it is told here.
    for (auto it = graftalsByItem.cbegin(); it != graftalsByItem.cend(); ++it)
        if (it.value() == g && tree->currentItem() != it.key()) {
            tree->setCurrentItem(it.key());
            if (current == g)
                return;
        }
    current = g;
    emit selectedChanged(g);
}

bool TreeManager::baseNameTaken(const QString &base, const Graftal *g) const
{
    if (g->ownsBaseName(base))
        return false;
    for (const Graftal *other : std::as_const(listed))
        if (other != g && (other->fileName() == base || other->ownsBaseName(base)))
            return true;
    // Nor is another program's or a damaged graftal's parameter file written over. Level
    // files without a parameter file are what a save cut short leaves: the graftal that
    // takes the name writes over them and removes the rest.
    return safefile::exists(Graftal::Directory + QLatin1Char('/') + base + QStringLiteral(".xml"));
}

bool TreeManager::baseBlocked(const QString &base, int levels) const
{
    // A link under one of the names a save would write (a shared pack may hold such):
    // never written through, so the graftal goes to files of another name.
    return !Graftal::writableBase(base, levels);
}

void TreeManager::assignUniqueFileName(Graftal *g)
{
    const int levels = g->levelCount();
    // A graftal on disk keeps its own files until it is renamed, or until it has more
    // levels than file names of its base can hold.
    if (!g->storedFileName().isEmpty() && !g->renamedSinceStored() &&
        Graftal::levelNamesFit(g->storedFileName(), levels) &&
        !baseBlocked(g->storedFileName(), levels)) {
        g->setFileName(g->storedFileName());
        return;
    }
    const QString natural = Graftal::naturalBaseName(g->name());

    // Keep the current file name while it still fits the name and is free.
    const QString currentName = g->fileName();
    const bool fitsName =
        currentName == natural ||
        QRegularExpression(QStringLiteral("^%1_\\d+$").arg(QRegularExpression::escape(natural)))
            .match(currentName)
            .hasMatch();
    if (fitsName && Graftal::levelNamesFit(currentName, levels) && !baseNameTaken(currentName, g) &&
        !baseBlocked(currentName, levels))
        return;
    QString candidate = natural;
    for (qint64 n = 2; baseNameTaken(candidate, g) || baseBlocked(candidate, levels); ++n)
        candidate = QStringLiteral("%1_%2").arg(natural).arg(n);
    g->setFileName(candidate);
}

bool TreeManager::saveGraftal(Graftal *g, QString *error)
{
    assignUniqueFileName(g);
    const bool saved = g->save(error);
    // An old file of the graftal that became a link meanwhile was kept: the user is told.
    for (const QString &kept : g->takeLeftAlone())
        emit problemReported(kept);
    return saved;
}

QStringList TreeManager::saveGraftals(const QList<Graftal *> &graftals, bool interactive)
{
    QStringList failures;
    for (Graftal *g : graftals) {
        QString error;
        if (!saveGraftal(g, &error))
            failures.append(QStringLiteral("\"%1\":\n%2").arg(g->name(), error));
    }
    if (!graftals.isEmpty())
        recordKnownIds();
    if (failures.isEmpty()) {
        clearAutosaveWarningIfAllSaved();
        return failures;
    }
    logger->error(QStringLiteral("%1 graftal(s) could not be saved").arg(failures.size()));
    if (interactive)
        QMessageBox::warning(tree ? tree->window() : nullptr, QStringLiteral("Save failed"),
                             QStringLiteral("These graftals could not be saved completely:\n\n%1")
                                 .arg(failures.join(QStringLiteral("\n\n"))));
    return failures;
}

void TreeManager::startAutosave(int intervalMs)
{
    autosaveTimer.setInterval(std::max(intervalMs, 1));
    autosaveTimer.start();
}

void TreeManager::clearAutosaveWarningIfAllSaved()
{
    // Files that could not be removed yet hold no work: they do not keep the line.
    if (!autosaveFailing || std::any_of(listed.cbegin(), listed.cend(),
                                        [](const Graftal *g) { return g->hasUnsavedChanges(); }))
        return;
    autosaveFailing = false;
    logger->info(QStringLiteral("every change is on disk again"));
    emit problemReported(QString());
}

void TreeManager::autosave()
{
    const QList<Graftal *> changed = changedGraftals();
    if (changed.isEmpty()) {
        clearAutosaveWarningIfAllSaved();
        return;
    }
    const QStringList failures = saveGraftals(changed, false);
    if (failures.isEmpty() || autosaveFailing)
        return; // all written, or told once already: the next attempts go on quietly
    autosaveFailing = true;
    const QString what = QString(failures.first()).replace(QLatin1Char('\n'), QLatin1Char(' '));
    logger->error(QStringLiteral("autosave failed: %1").arg(what));
    emit problemReported(
        QStringLiteral("Autosave failed, changes are not on disk yet: %1%2")
            .arg(what, failures.size() > 1 ? QStringLiteral(" (and more)") : QString()));
}
