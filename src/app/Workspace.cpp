#include "Workspace.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace workspace {

bool takeOptions(QStringList &arguments, Choice &choice, QString &error)
{
    const QString option = QStringLiteral("--workspace");
    for (int i = 0; i < arguments.size();) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--workspace-default")) {
            choice = {defaultFolder(), true};
            arguments.removeAt(i);
        } else if (a == option || a.startsWith(option + QLatin1Char('='))) {
            const bool inline_ = a != option;
            const QString folder = inline_ ? a.mid(option.size() + 1)
                                   : i + 1 < arguments.size() ? arguments[i + 1]
                                                              : QString();
            if (folder.isEmpty()) {
                error = QStringLiteral("--workspace needs a folder");
                return false;
            }
            choice = {folder, false};
            arguments.remove(i, inline_ ? 1 : 2);
        } else {
            ++i;
        }
    }
    return true;
}

QString defaultFolder()
{
    const QString home = QDir::homePath();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const bool ownDocuments = !documents.isEmpty() && QFileInfo(documents).isDir() &&
                              QDir(documents) != QDir(home);
    return (ownDocuments ? documents : home) + QStringLiteral("/Tuftmill");
}

namespace {
// Copies the regular files of `from` into `to`, folder by folder; links are left out.
void copySamples(const QString &from, const QString &to)
{
    const QDir source(from);
    QDirIterator files(from, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        if (file.isSymLink())
            continue;
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(file.filePath());
        QDir().mkpath(QFileInfo(target).path());
        if (!QFileInfo::exists(target))
            QFile::copy(file.filePath(), target);
    }
}
} // namespace

bool enter(const Choice &choice, const QString &samples, QString &error)
{
    const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(choice.folder));
    const bool fresh = !QFileInfo::exists(folder);
    if (!QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        error = QStringLiteral("cannot work in %1").arg(folder);
        return false;
    }
    if (fresh && choice.isDefault && QFileInfo(samples).isDir())
        copySamples(samples, folder);
    for (const char *name : {"graftals", "scenes"}) {
        if (!QDir().mkpath(QString::fromLatin1(name))) {
            error = QStringLiteral("cannot create %1 in %2").arg(QLatin1String(name), folder);
            return false;
        }
    }
    return true;
}

} // namespace workspace
