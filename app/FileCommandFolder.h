#pragma once

#include <QString>

namespace tilu {

// The folder both file commands start in, made the process's current directory (a failure is
// of no consequence): the program's own folder where files can be created in it, else the
// user's documents folder, created if missing. A program installed under a system folder thus
// saves the preset name where the operator may write.
QString EnterFileCommandFolder(const QString& programFolder);

} // namespace tilu
