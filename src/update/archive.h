#pragma once

#include <QString>

// ZIP archives of application packages, with their Unix permissions and symbolic links.
namespace telmora {

// Unpacks `archive` into the existing folder `folder`. Refuses the whole archive with
// UpdateError::invalidApp when it cannot be read, when a member has an absolute path, a
// ".." component or a name that is not UTF-8, when a member would be written through a
// symbolic link of the archive, or when a symbolic link points outside `folder` (or
// nowhere). Nothing is ever written outside `folder`, and a refused archive leaves no link
// behind; the caller removes the rest of what was written inside it. Permission bits come
// from the archive (set-id and sticky bits dropped). Blocks: run it off the interface thread.
void unpackArchive(const QString& archive, const QString& folder);

// Writes a ZIP archive of `folder` whose first entry is the folder's own name followed by
// "/", keeping permission bits and symbolic links (not followed). Throws UpdateSystemError.
void packFolder(const QString& folder, const QString& archive);

} // namespace telmora
