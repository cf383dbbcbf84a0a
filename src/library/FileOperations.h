#pragma once

#include "library/File.h"
#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace lumora {

class FileController;

// The writer's file operations in one library's folder (create, move,
// rename, trash). Each runs off the main thread and finishes on the main
// thread with the controller's tree already updated, then calls its
// completion; open documents follow their files (see FileRelocations).
// Operations under way keep their controller alive.
//
// Owned by its FileController (FileController::operations()). Main thread only.
class FileOperations {
public:
    explicit FileOperations(FileController& controller) : m_controller(controller) {}
    FileOperations(const FileOperations&) = delete;
    FileOperations& operator=(const FileOperations&) = delete;

    using Completion = std::function<void(const std::optional<PlatformError>& error, File* file)>;

    // A new document at path ("txt" is added to a name without a document
    // extension): never over an existing item; when the name is taken, the
    // next free "Name N". The completion gets the node of the name made.
    void createDocument(const QString& path, const std::optional<QByteArray>& contents, Completion completion);
    // A new folder at path, numbered the same way on a clash.
    void createFolder(const QString& path, Completion completion);
    // Moves or renames from to to (a document keeps its extension when the
    // new name has no document extension). Never replaces an item at the
    // destination; a folder never moves into itself. Moving an item to its
    // own path calls the completion at once with nothing.
    void moveFile(const QString& from, const QString& to, Completion completion);
    // Moves each file to the Trash; the completion runs once per file.
    void trashFiles(const std::vector<File*>& files, std::function<void(const std::optional<PlatformError>&)> completion);

    // The name on disk for a name the writer typed: "/" is stored as ":".
    // Refused, with a message, when the name cannot be used.
    static PlatformResult<QString> diskNameForTypedName(const QString& typed);
    // The same checks for a name on disk.
    static std::optional<PlatformError> checkDiskName(const QString& name);

private:
    FileController& m_controller;
};

} // namespace lumora
