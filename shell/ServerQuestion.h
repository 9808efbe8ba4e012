// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Asks for the dispatch server until the answer is one to use, or the user cancels; a server given
// is kept as [SignIn] Server. False when cancelled.
bool askForServer(QWidget* parent);
