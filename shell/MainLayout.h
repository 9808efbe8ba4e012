// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QKeySequence>
#include <QRect>
#include <QString>
#include <optional>

// The two layouts of the main window are one window; this table holds all
// that differs between them.
enum class Layout { Full, Compact };

struct PanelPictures {
    bool Image1;
    bool Image2;
    bool Image3;
    std::optional<bool> Image5; // nullopt: left as it is
};

struct MainLayout {
    Layout layout;
    const char* formName;
    QSize client;
    bool ownIcon;

    // Hand-over fields carrying the second account.
    const char* accountField;
    const char* passwordField;

    QSize background;
    const char* image1Picture;
    const char* image2Picture;
    const char* image5Picture; // nullptr: no Image5

    QRect Label2;
    bool label2Tahoma;
    QRect Label1;
    bool label1Verdana;
    const char* label1Caption;
    std::optional<QRect> Label6; // the entry-count line
    QRect lvName;
    QRect lvEmail;
    int listOpenHeight;
    QRect Label5, Label3, txtName, Image3, Label4, txtEmail, cmdAdd, Image4, pb1, lblAdd;
    std::optional<QRect> Image5;
    const char* stacking[11]; // pictures and labels, bottom up

    PanelPictures atLoad, panelOpen, panelClosed;

    int timer1Ms;
    bool hasTimer3;
    int tpb1Ms;

    // Menus
    const char* sepAfterOpen;
    const char* sepAfterStats;
    const char* sepBeforeExit;
    const char* sysTrayCaption;
    QKeySequence sysTrayKey;
    const char* contactMenuName;
    const char* contactMenuCaption;
    const char* convoCaption;
    const char* popupStatsCaption;
    const char* viewMenuName;
    const char* viewSepFirst;
    const char* vconvoCaption;
    const char* viewSepSecond;
};

const MainLayout& mainLayout(Layout layout);
