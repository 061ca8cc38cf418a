#pragma once

#include <QString>

namespace quillet {

// Creates the missing folders of an absolute path, each one rwx for the owner
// only whatever the umask; folders that exist keep their modes, since they
// may be the user's or shared on purpose. True when the path is a folder.
bool makePrivateFolders(const QString& path);

}  // namespace quillet
