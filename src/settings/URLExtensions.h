#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Helpers over file paths (absolute, '/'-separated) for naming and showing
// files and folders.
namespace lumora::url {

// The path itself when nothing exists there; else the first free numbered
// sibling: "Notes.txt" gives "Notes 2.txt", then "Notes 3.txt". A dangling
// symbolic link occupies its name.
QString uniqueFileURL(const QString& path);

// The name shown for an item: its last path component ("/" for the root),
// as NativePath::shownName shows it.
QString localizedName(const QString& path);

// For each folder, the parent folder names needed to tell folders of equal
// names apart (nearest parent last), in the order of the input. A folder whose
// name is unique among them needs none.
QList<QStringList> displayNames(const QStringList& folderPaths);

// The library list's title of a folder: the name, then " – " and the parent
// components joined with "/" when there are any. The two parts are drawn in
// the label colour and the secondary label colour.
struct AttributedDisplayName {
    QString name;
    QString parents; // " – parent/components", or empty
    QString text() const { return name + parents; }
};
AttributedDisplayName attributedDisplayName(const QString& path, const QStringList& parentComponents);

} // namespace lumora::url
