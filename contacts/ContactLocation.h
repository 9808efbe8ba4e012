// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the contact file lives. One rule: data/database.dat beside the program when that data/ folder
// exists, can be written and is the user's alone (a portable copy, and where users of the old program
// keep their file);
// otherwise the user's own data folder, $XDG_DATA_HOME/Velmora/data/database.dat (by default
// ~/.local/share/Velmora/data/database.dat), as for a program installed system-wide. A list beside the
// program that cannot be written there is not lost: the first start that finds it copies it into the
// user's data folder, when that holds none yet.

#include <QString>
#include <functional>

namespace ContactLocation {

// The rule on its own. xdgDataHome counts only when it is an absolute path; home is the fallback's base.
QString choose(const QString& programDir, const QString& xdgDataHome, const QString& home);

struct Placement {
    QString file;         // the contact file of this run
    QString readOnlyFile; // a list beside the program that cannot be written there, or empty
    bool copied = false;  // this start copied it into file
    QString sharedFolder; // a data/ beside the program not used: someone else owns or may write it
};

// The rule with what it does: the user's data folder is made (owner only) when it is the place, and a
// list beside the program that cannot be written there is copied into it when it has none. writable
// replaces the test of a folder (tests; root can write everywhere).
Placement place(const QString& programDir, const QString& xdgDataHome, const QString& home,
                const std::function<bool(const QString& folder)>& writable = {});

// The file for this run, placed from the program's folder and the environment. The program places
// it once: a save must go to the file the list was read from, even if the folder beside the program
// changes meanwhile.
Placement placeForThisRun();

} // namespace ContactLocation
