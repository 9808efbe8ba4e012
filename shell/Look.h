// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace Look {

inline const QColor kDarkBlue{0, 0, 128};
inline const QColor kGrey{128, 128, 128};
inline const QColor kEntryFieldBack{71, 87, 143};
// The light text of an inactive window caption, on the dark blue entry fields.
inline const QColor kInactiveCaptionText{216, 228, 248};
// On the white lists and the light panel that light text cannot be read; these
// take the caption's own grey instead.
inline const QColor kInactiveCaption{128, 128, 128};

// Makes the program's pictures available as ":/name.png".
void ensureResources();

// Loads the look-alike fonts and maps the window fonts onto what is installed.
void installFonts();

QFont tahoma();          // 8.25 pt
QFont verdana();         // 8.25 pt
QFont timesNewRoman();   // 9.75 pt

void setTextColor(QWidget* w, const QColor& c);

// Places a child at a rectangle given in pixels at 96 dpi.
void place(QWidget* w, int x, int y, int width, int height);

} // namespace Look
