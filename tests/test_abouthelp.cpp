// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/AboutWindow.h"
#include "shell/ClickableLabel.h"
#include "shell/HelpWindow.h"
#include "desktop/OpenLink.h"

#include <QPushButton>
#include <QtTest>

class AboutHelpTest : public QObject {
    Q_OBJECT

    QStringList opened;
    const Desktop desktop{[this](const QUrl& target) {
        opened << target.toString();
        return true;
    }};

    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }

private slots:
    void init() { opened.clear(); }

    void aboutLinksLeadToTheirOwnTargetsAndKeepTheWindow()
    {
        AboutWindow about(desktop);
        about.show();
        QCOMPARE(about.windowTitle(), QString("About Velmora v2.6"));
        QVERIFY(about.isModal());
        QCOMPARE(about.size(), QSize(320, 272));
        click(about.findChild<QWidget*>("Image1"));
        click(about.findChild<QWidget*>("Label4"));
        click(about.findChild<QWidget*>("Label6"));
        QCOMPARE(opened.size(), 3);
        QVERIFY(opened[0].startsWith("http://"));
        QVERIFY(opened[1].startsWith("mailto:") && !opened[1].contains('?'));
        QVERIFY(opened[2].startsWith("mailto:") && opened[2] != opened[1]);
        QVERIFY(about.isVisible());
        QCOMPARE(about.findChild<QLabel*>("Label7")->text(), QString("Program's Name: Velmora"));
        QCOMPARE(about.findChild<QLabel*>("Label9")->text(), QString("Version Info: Version 2.6"));
        QCOMPARE(about.findChild<QLabel*>("Label2")->text(), QString("Programmers:"));
        QCOMPARE(about.findChild<QWidget*>("Image1")->toolTip(), QString("Click to visit Website"));

        click(about.findChild<QPushButton*>("cmdBack"));
        QVERIFY(!about.isVisible());
    }

    void helpSharesTheWebSiteAndEitherPanelCloses_data()
    {
        QTest::addColumn<QString>("panel");
        QTest::newRow("Help") << "StatusBar1Panel1";
        QTest::newRow("Click Me To Go Back") << "StatusBar1Panel2";
    }
    void helpSharesTheWebSiteAndEitherPanelCloses()
    {
        QFETCH(QString, panel);
        HelpWindow help(desktop);
        help.show();
        QCOMPARE(help.windowTitle(), QString("Help for Velmora"));
        QVERIFY(help.isModal());
        QVERIFY(help.findChild<QLabel*>("Label1")->text().startsWith("All you gotta do is hit \"Add a Contact\" then"));
        click(help.findChild<QWidget*>("Image1"));
        QVERIFY(help.isVisible());
        AboutWindow about(desktop);
        click(about.findChild<QWidget*>("Image1"));
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[0], opened[1]); // one web site for both windows

        auto* p = help.findChild<QLabel*>(panel);
        QCOMPARE(p->text(), QString(QTest::currentDataTag()));
        click(p);
        QVERIFY(!help.isVisible());
    }
};

QTEST_MAIN(AboutHelpTest)
#include "test_abouthelp.moc"
