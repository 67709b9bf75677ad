#pragma once

#include <QByteArray>
#include <QString>

// How the program creates its folders and writes its files: folders it creates are open to their
// owner only, and files are replaced whole, never written through a symbolic link that someone
// placed where the file belongs.
namespace PrivateFiles {

// Creates the folder and every missing folder above it, each one readable, writable and
// searchable by its owner only (0700). Folders that exist keep their permissions. True when the
// folder exists afterwards; otherwise error receives the reason.
bool makeDir(const QString &path, QString *error = nullptr);

// Replaces the file's content atomically: the content goes to a new file beside it (0600,
// created exclusively), is flushed to disk and then renamed over the file's name, so a reader
// sees the old or the new content, never a part. A symbolic link in the file's place is replaced
// by the file, never followed. Missing folders above it are created as by makeDir. False, with
// the reason in error, when the file could not be written; the old file is then untouched.
bool writeFile(const QString &path, const QByteArray &content, QString *error = nullptr);

} // namespace PrivateFiles
