#pragma once

#include <QString>
#include <QStringList>

// The folder Tuftmill works in: "graftals", "scenes" and "logger.log" live there.
// Started from a terminal it is the current folder; `--workspace DIR` names another, and
// `--workspace-default` (the desktop entry's) the user's own: "Tuftmill" in the documents
// folder when there is one, else "~/Tuftmill". A default workspace made new gets the
// installed sample graftals, models and scenes.
namespace workspace {

struct Choice
{
    QString folder;       // empty: the current folder stays
    bool isDefault = false;
    bool wanted() const { return !folder.isEmpty(); }
};

// Takes the workspace options out of `arguments`; false with `error` for a
// `--workspace` without a folder.
bool takeOptions(QStringList &arguments, Choice &choice, QString &error);
QString defaultFolder();
// Makes the folder with "graftals" and "scenes" where missing, copies the samples from
// `samples` into a default one made now, and makes it the current folder.
bool enter(const Choice &choice, const QString &samples, QString &error);

} // namespace workspace
