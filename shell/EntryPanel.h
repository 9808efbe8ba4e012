// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/MainControls.h"

#include <QObject>

class QLineEdit;

// The entry panel of the main window: opening and closing it (lists, pictures, boxes, the focus)
// and the boxes that empty when the user moves into them.
class EntryPanel : public QObject {
public:
    EntryPanel(MainControls& controls, const MainLayout& table, QObject* parent);

    void open();
    void close();
    // Gives the box the focus, which empties it.
    void giveFocus(QLineEdit* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void letKeyboardReachHotSpot();

    MainControls& c;
    const MainLayout& table;
};
