#pragma once
// Where the contact file lives. One rule: data/database.dat beside the program when that data/ folder
// exists and can be written (a portable copy, and where users of the old program keep their file);
// otherwise the user's own data folder, $XDG_DATA_HOME/Velmora/data/database.dat (by default
// ~/.local/share/Velmora/data/database.dat), as for a program installed system-wide.

#include <QString>

namespace ContactLocation {

// The rule on its own. xdgDataHome counts only when it is an absolute path; home is the fallback's base.
QString choose(const QString& programDir, const QString& xdgDataHome, const QString& home);

// The file for this run, chosen once from the program's folder and the environment. When the user's
// data folder is chosen, its Velmora/data folder is made (owner only) so that the first save has
// somewhere to create the file; the file itself is left to that save.
QString forThisRun();

} // namespace ContactLocation
