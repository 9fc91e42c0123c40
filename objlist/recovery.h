#pragma once
// Where a changed list goes when the program is ended by the system (logout, shutdown, kill),
// with nobody there to answer the question about saving it: into a file of its own in a folder
// the window chooses, and a note beside it that the next start reads to tell the operator.
#include <QString>

#include <optional>

namespace ormelin {

class ObjectList;

namespace recovery {

// Writes the list to a new file in `folder` (created if need be): a list file when the list can
// be one, so that "Загрузить список" takes it back; otherwise (a character without a
// Windows-1251 form, too many rows) the same lines in UTF-8, in a .txt file, so that nothing
// typed is lost. The path written, or nothing, with `reason` saying why.
std::optional<QString> keepList(const ObjectList &list, const QString &folder, QString *reason);

// The note the next start reads: which file holds the list kept. False when it was not written.
bool leaveNote(const QString &folder, const QString &keptIn);
// The path the note names, once: the note is removed as it is read. Nothing without a note.
std::optional<QString> takeNote(const QString &folder);

} // namespace recovery
} // namespace ormelin
