// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "shell/MainLayout.h"

#include <functional>

class ClickableLabel;
class ContactStore;
class ContactListModel;
class QAbstractItemView;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QWidget;

// The main window's controls, built from its layout table with their names, places, looks and
// initial state; the window wires them to its handlers.
struct MainControls {
    QWidget* client = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    ClickableLabel* Image4 = nullptr;
    QLabel* Image5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    ClickableLabel* lblAdd = nullptr;
    QAbstractItemView* lvName = nullptr;
    QAbstractItemView* lvEmail = nullptr;
    ContactListModel* nameRows = nullptr;
    ContactListModel* emailRows = nullptr;
    QLineEdit* txtName = nullptr;
    QLineEdit* txtEmail = nullptr;
    QLineEdit* handOverAccount = nullptr;
    QLineEdit* handOverPassword = nullptr;
    QPushButton* cmdAdd = nullptr;
    QProgressBar* pb1 = nullptr;
    QLabel* lblListInfo = nullptr; // under the lists: a run's progress, what a filter shows
    QLineEdit* txtFind = nullptr;  // over the lists, while finding

    static MainControls build(QMainWindow* window, const MainLayout& table, const ContactStore& store);

    void setPictures(const PanelPictures& pictures);
    // The lists' height as the layout has it; the line under them takes its share of it.
    void setListHeights(int height);
    void showListInfo(const QString& text); // empty: the line goes and the lists have its room
    void showFindBox(bool shown);
    // Runs a change of the rows shown and keeps the e-mail list's selected contact selected.
    void keepEmailSelection(const std::function<void()>& change);

private:
    void layOutLists();

    const MainLayout* table = nullptr;
    int listHeight = 0;
};
