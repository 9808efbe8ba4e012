// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/MainControls.h"

#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "shell/ClickableLabel.h"
#include "shell/Look.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>

namespace {

QLabel* picture(QWidget* parent, const char* name, const QRect& r, const char* file) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    if (file)
        l->setPixmap(QPixmap(QLatin1String(file)));
    return l;
}

QLabel* label(QWidget* parent, const char* name, const QRect& r, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    return l;
}

// A one-column report list. A table with its row header hidden keeps 8 bytes a row (a tree view
// keeps an item of its own for every row), so a million contacts cost the list little.
class ReportList : public QTableView {
public:
    using QTableView::QTableView;

protected:
    // Home and End go to the first and the last row, as in any list; a table
    // would only move along the one column.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if (action == MoveHome || action == MoveEnd)
            modifiers |= Qt::ControlModifier;
        return QTableView::moveCursor(action, modifiers);
    }
};

// Rows as high as a report list's: one line of text in the list's font.
int reportRowHeight(QAbstractItemView* v) {
    QStyleOptionViewItem row;
    row.initFrom(v);
    row.font = v->font();
    row.fontMetrics = v->fontMetrics();
    row.features = QStyleOptionViewItem::HasDisplay;
    row.text = QStringLiteral("Ag");
    return v->style()->sizeFromContents(QStyle::CT_ItemViewItem, &row, QSize(), v).height();
}

QAbstractItemView* listView(QWidget* parent, const char* name, const QRect& r, ContactListModel* model) {
    auto* v = new ReportList(parent);
    v->setObjectName(QLatin1String(name));
    v->setGeometry(r);
    v->setModel(model);
    v->setShowGrid(false);
    v->setWordWrap(false);
    v->setCornerButtonEnabled(false);
    v->setTabKeyNavigation(false); // Tab goes on to the next list, not down the rows
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    Look::setTextColor(v, Look::kInactiveCaption);

    QHeaderView* rows = v->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(1);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(reportRowHeight(v));

    QHeaderView* caption = v->horizontalHeader();
    caption->setStretchLastSection(true);
    caption->setSectionsClickable(false);
    caption->setHighlightSections(false);
    caption->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return v;
}

QLineEdit* entryField(QWidget* parent, const char* name, const QRect& r, const QString& text) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(r);
    e->setFrame(false);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, Look::kEntryFieldBack);
    p.setColor(QPalette::Text, Look::kInactiveCaptionText);
    e->setPalette(p);
    return e;
}

void buildStatus(MainControls& c, const MainLayout& table) {
    const QRect bg(QPoint(0, 0), table.background);
    c.Image1 = picture(c.client, "Image1", bg, table.image1Picture);
    c.Image2 = picture(c.client, "Image2", bg, table.image2Picture);

    c.Label2 = label(c.client, "Label2", table.Label2, QStringLiteral("My Status:"));
    Look::setTextColor(c.Label2, Look::kGrey);
    if (table.label2Tahoma)
        c.Label2->setFont(Look::tahoma());
    c.Label1 = label(c.client, "Label1", table.Label1, QLatin1String(table.label1Caption));
    c.Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    c.Label1->setFont(table.label1Verdana ? Look::verdana() : Look::tahoma());
    if (table.Label6)
        c.Label6 = label(c.client, "Label6", *table.Label6, QString());
}

void buildLists(MainControls& c, QMainWindow* window, const MainLayout& table, const ContactStore& store) {
    c.nameRows = new ContactListModel(store, ContactField::Name, QStringLiteral("Name:"), window);
    c.emailRows =
        new ContactListModel(store, ContactField::Email, QStringLiteral("E-Mail:"), window);
    c.lvName = listView(c.client, "lvName", table.lvName, c.nameRows);
    c.lvEmail = listView(c.client, "lvEmail", table.lvEmail, c.emailRows);
    c.lvName->setAccessibleName(QStringLiteral("Contact names"));
    c.lvEmail->setAccessibleName(QStringLiteral("Contact e-mail addresses"));
}

void buildEntryPanel(MainControls& c, const MainLayout& table) {
    c.Label5 = label(c.client, "Label5", table.Label5, QStringLiteral("Add an Email"));
    c.Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    c.Label5->setFont(Look::timesNewRoman());
    c.Label3 = label(c.client, "Label3", table.Label3, QStringLiteral("Name:"));
    c.Label4 = label(c.client, "Label4", table.Label4, QStringLiteral("E-Mail:"));
    for (QLabel* l : {c.Label3, c.Label4, c.Label5})
        Look::setTextColor(l, Look::kInactiveCaption);
    c.txtName = entryField(c.client, "txtName", table.txtName, QStringLiteral("John Doe"));
    c.txtEmail = entryField(c.client, "txtEmail", table.txtEmail, QStringLiteral("someone@example.com"));
    c.Image3 = picture(c.client, "Image3", table.Image3, ":/contact32.png");
    c.cmdAdd = new QPushButton(QStringLiteral("Add Contact"), c.client);
    c.cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    c.cmdAdd->setGeometry(table.cmdAdd);
    c.Image4 = ClickableLabel::picture(c.client, "Image4", table.Image4, QStringLiteral(":/close13.png"),
                                       QStringLiteral("Close Contact Addition"));
    c.Image4->actAsButton(QStringLiteral("Close Contact Addition"));
    if (table.Image5)
        c.Image5 = picture(c.client, "Image5", *table.Image5, table.image5Picture);
}

void buildBottom(MainControls& c, const MainLayout& table) {
    c.pb1 = new QProgressBar(c.client);
    c.pb1->setObjectName(QStringLiteral("pb1"));
    c.pb1->setGeometry(table.pb1);
    c.pb1->setRange(0, 100);
    c.pb1->setValue(0);
    c.pb1->setTextVisible(false);

    c.lblAdd = new ClickableLabel(c.client);
    c.lblAdd->setObjectName(QStringLiteral("lblAdd"));
    c.lblAdd->setGeometry(table.lblAdd);
    c.lblAdd->setToolTip(QStringLiteral("Click Here to Add Contacts"));
    c.lblAdd->setCursor(Qt::PointingHandCursor);
    c.lblAdd->actAsButton(QStringLiteral("Add a Contact"));

    c.handOverAccount = new QLineEdit(c.client);
    c.handOverAccount->setObjectName(QLatin1String(table.accountField));
    c.handOverPassword = new QLineEdit(c.client);
    c.handOverPassword->setObjectName(QLatin1String(table.passwordField));
    c.handOverPassword->setEchoMode(QLineEdit::Password);

    c.txtFind = new QLineEdit(c.client);
    c.txtFind->setObjectName(QStringLiteral("txtFind"));
    c.txtFind->setPlaceholderText(QStringLiteral("Find a name or address"));
    c.txtFind->setAccessibleName(QStringLiteral("Find contacts"));
    c.txtFind->setClearButtonEnabled(true);

    c.lblListInfo = label(c.client, "lblListInfo", {}, QString());
    c.lblListInfo->setTextFormat(Qt::PlainText);
    c.lblListInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c.lblListInfo->setWordWrap(true);
    Look::setTextColor(c.lblListInfo, Look::kInactiveCaption);
}

// Pictures and labels bottom up, then the controls above them all; only the lists, the entry
// panel and the hot spot take the focus.
void stackAndOrder(MainControls& c, QMainWindow* window, const MainLayout& table) {
    for (const char* name : table.stacking)
        if (auto* w = c.client->findChild<QWidget*>(QLatin1String(name), Qt::FindDirectChildrenOnly))
            w->raise();
    QWidget* const above[] = {c.lvName, c.lvEmail, c.lblListInfo, c.txtFind, c.txtName, c.txtEmail, c.cmdAdd, c.pb1};
    for (QWidget* w : above)
        w->raise();

    // The panel's boxes come first when it is open, the lists first while it is closed (hidden
    // controls are skipped); the chain is a ring, so both hold at once.
    QWidget* const ring[] = {c.txtName, c.txtEmail, c.cmdAdd, c.Image4, c.txtFind, c.lvName, c.lvEmail, c.lblAdd};
    for (QWidget* w : c.client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (std::find(std::begin(ring), std::end(ring), w) == std::end(ring))
            w->setFocusPolicy(Qt::NoFocus);
    for (size_t i = 1; i < std::size(ring); ++i)
        window->setTabOrder(ring[i - 1], ring[i]);
}

} // namespace

MainControls MainControls::build(QMainWindow* window, const MainLayout& table, const ContactStore& store) {
    MainControls c;
    c.table = &table;
    c.listHeight = table.lvName.height();
    c.client = new QWidget(window);
    c.client->setObjectName(QStringLiteral("client"));
    c.client->setFixedSize(table.client);
    window->setCentralWidget(c.client);
    buildStatus(c, table);
    buildLists(c, window, table, store);
    buildEntryPanel(c, table);
    buildBottom(c, table);

    QWidget* const hidden[] = {c.Label5, c.Label3, c.Label4,      c.txtName,         c.txtEmail,       c.cmdAdd,
                               c.Image4, c.pb1,    c.lblListInfo, c.txtFind, c.handOverAccount, c.handOverPassword};
    for (QWidget* w : hidden)
        w->hide();
    c.setPictures(table.atLoad);
    stackAndOrder(c, window, table);
    return c;
}

void MainControls::setPictures(const PanelPictures& p) {
    Image1->setVisible(p.Image1);
    Image2->setVisible(p.Image2);
    Image3->setVisible(p.Image3);
    if (Image5 && p.Image5)
        Image5->setVisible(*p.Image5);
}

void MainControls::setListHeights(int height) {
    listHeight = height;
    layOutLists();
}

void MainControls::showListInfo(const QString& text) {
    if (lblListInfo->text() == text && !lblListInfo->isHidden() == !text.isEmpty())
        return;
    lblListInfo->setText(text);
    lblListInfo->setVisible(!text.isEmpty());
    layOutLists();
}

// The line under the lists takes its room from them, as the entry panel does: the window keeps
// its size.
void MainControls::showFindBox(bool shown) {
    txtFind->setVisible(shown);
    layOutLists();
}

// The find box over the lists and the line under them take their room from the lists, as the
// entry panel does: the window keeps its size.
void MainControls::layOutLists() {
    const int top = table->lvName.y();
    const int left = lvName->x();
    const int width = lvEmail->geometry().right() + 1 - left;
    // A long line wraps rather than lose its start.
    const int info = !lblListInfo->isHidden() ? lblListInfo->heightForWidth(width) : 0;
    const int find = !txtFind->isHidden() ? txtFind->sizeHint().height() + 2 : 0;
    const int height = listHeight - info - find;
    txtFind->setGeometry(left, top, width, find - 2);
    lvName->setGeometry(lvName->x(), top + find, lvName->width(), height);
    lvEmail->setGeometry(lvEmail->x(), top + find, lvEmail->width(), height);
    lblListInfo->setGeometry(left, top + find + height, width, info);
}

void MainControls::keepEmailSelection(const std::function<void()>& change) {
    const QModelIndexList selected = lvEmail->selectionModel()->selectedRows();
    const qint32 storeRow = selected.isEmpty() ? -1 : emailRows->storeRow(selected.first().row());
    change();
    const int row = storeRow < 0 ? -1 : emailRows->rowOf(storeRow);
    if (row < 0)
        return;
    const QModelIndex at = emailRows->index(row);
    lvEmail->selectionModel()->select(at, QItemSelectionModel::ClearAndSelect);
    lvEmail->scrollTo(at);
}
