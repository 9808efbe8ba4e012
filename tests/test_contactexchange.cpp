// SPDX-License-Identifier: GPL-3.0-or-later
// Contacts from other programs' files and to them: the awkward parts of real exports, files made
// to hurt, and a round trip through each format written.

#include "contacts/ContactExchange.h"
#include "tests/support/ContactTestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace exchange;
using contacttest::shown;
using Records = QList<ContactRecord>;

class ContactExchangeTest : public QObject {
    Q_OBJECT

private slots:
    void mailProgramsCsv()
    {
        // Thunderbird: a byte order mark, a display name with a comma, notes over two lines.
        const Imported thunderbird = importContacts(
            "\xEF\xBB\xBF" "First Name,Last Name,Display Name,Nickname,Primary Email,Secondary Email,Notes\r\n"
            "Ann,Lee,\"Lee, Ann\",,ann@x,ann2@x,\"line one\r\nline \"\"two\"\"\"\r\n"
            "Bob,Roe,,,bob@x,,\r\n",
            Format::Csv);
        QCOMPARE(shown(thunderbird.contacts),
                 shown(Records{{"Lee, Ann", "ann@x"}, {"Lee, Ann", "ann2@x"}, {"Bob Roe", "bob@x"}}));
        QVERIFY(thunderbird.unreadableLines.isEmpty());

        // Outlook, in Windows-1252, with its e-mail type and display name columns, which are not addresses.
        const Imported outlook = importContacts("First Name,Middle Name,Last Name,E-mail Address,E-mail Type,"
                                                "E-mail Display Name,E-mail 2 Address\r\n"
                                                "Jos\xE9,,P\xE9rez,jose@x,SMTP,Jose (jose@x),\r\n",
                                                Format::Csv);
        QCOMPARE(shown(outlook.contacts), shown(Records{{"Jos\u00e9 P\u00e9rez", "jose@x"}}));

        // Google: several addresses in one field; a line with an open quote is told, with its number.
        const Imported google = importContacts("Name,Given Name,E-mail 1 - Type,E-mail 1 - Value\n"
                                               "Cy,Cy,* Home,cy@x ::: cy2@x\n"
                                               "Dee,Dee,,dee@x\n"
                                               "\"Eve,Eve,,eve@x\n",
                                               Format::Csv);
        QCOMPARE(shown(google.contacts), shown(Records{{"Cy", "cy@x"}, {"Cy", "cy2@x"}, {"Dee", "dee@x"}}));
        QCOMPARE(google.unreadableLines, QList<qint64>{4});

        QVERIFY(!importContacts("Name,Phone\nAnn,123\n", Format::Csv).error.isEmpty());
    }

    void vCardsAndMessengerLists()
    {
        const Imported cards = importContacts("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann \r\n Lee\r\nEMAIL;TYPE=work:ann@x\r\n"
                                              "EMAIL;TYPE=home:ann@home\r\nEND:VCARD\r\n"
                                              "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Roe;Bob;;;\r\n"
                                              "item1.EMAIL;PREF=1:bob@x\r\nEND:VCARD\r\n",
                                              Format::VCard);
        QCOMPARE(shown(cards.contacts),
                 shown(Records{{"Ann Lee", "ann@x"}, {"Ann Lee", "ann@home"}, {"Bob Roe", "bob@x"}}));

        const QString ctt = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<messenger><service "
                            "name=\".NET Messenger Service\"><contactlist><contact>ann@x</contact>"
                            "<contact type=\"1\"> bob@x </contact></contactlist></service></messenger>\n";
        QByteArray utf16("\xFF\xFE");
        utf16.append(reinterpret_cast<const char*>(ctt.utf16()), ctt.size() * 2);
        QCOMPARE(formatOf("list.xml", utf16), Format::Ctt);
        const Imported list = importContacts(utf16, Format::Ctt);
        QVERIFY2(list.error.isEmpty(), qPrintable(list.error));
        QCOMPARE(shown(list.contacts), shown(Records{{"ann@x", "ann@x"}, {"bob@x", "bob@x"}}));
    }

    void hostileFilesAddNothing()
    {
        QTemporaryDir dir;
        const QString secret = dir.filePath("secret.txt");
        QVERIFY(contacttest::writeAll(secret, "outside@x"));
        const QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE messenger [<!ENTITY a \"aaaaaaaaaa\">"
                                "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                                "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
                                "<messenger><service><contactlist><contact>&e;@x</contact><contact>ann@x</contact>"
                                "</contactlist></service></messenger>";
        const QByteArray outside = "<?xml version=\"1.0\"?><!DOCTYPE messenger [<!ENTITY s SYSTEM \"file://" +
                                   secret.toUtf8() + "\">]><messenger><service><contactlist><contact>&s;</contact>"
                                                     "</contactlist></service></messenger>";
        for (const QByteArray& xml : {bomb, outside}) {
            const Imported in = importContacts(xml, Format::Ctt);
            QVERIFY(!in.error.isEmpty());
            QVERIFY(in.contacts.isEmpty());
        }

        // A file larger than any address book is not read into memory.
        const QString huge = dir.filePath("huge.csv");
        {
            QFile f(huge);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Name,E-mail\nAnn,");
            QVERIFY(f.resize(100 * 1024 * 1024)); // a 100 MB line
        }
        QVERIFY(importFile(huge).error.contains("larger than"));

        const QString noise = dir.filePath("noise.csv");
        QByteArray bytes(4096, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919) % 256);
        QVERIFY(contacttest::writeAll(noise, bytes));
        const Imported in = importFile(noise);
        QVERIFY(!in.error.isEmpty());
        QVERIFY(in.contacts.isEmpty());

        // A field longer than any address book's: that line is told, the next one read.
        const Imported longLine = importContacts("Name,E-mail\n" + QByteArray(200'000, 'a') + ",long@x\nBob,bob@x\n",
                                                 Format::Csv);
        QCOMPARE(longLine.unreadableLines, QList<qint64>{2});
        QCOMPARE(shown(longLine.contacts), shown(Records{{"Bob", "bob@x"}}));
    }

    void exportsReadBackAsTheyWere()
    {
        const Records contacts{{"=1+2", "ann@x"}, {"-Bob, Jr.", "bob@x"}, {"@Cy", "+cy@x"},
                               {"Z\u00f6e", "zoe@x"}, {"Bob", "BOB@x"}};
        const QByteArray csv = csvOf(contacts.size(), [&](qint64 i) {
            ExportRow r;
            r.name = contacts[i].name;
            r.address = contacts[i].email;
            if (i == 0) {
                r.result = "Online";
                r.checkedAt = r.seenOnlineAt = 1'700'000'000'000;
            }
            return r;
        });
        QVERIFY(csv.startsWith("\xEF\xBB\xBFName,E-mail Address,Latest Result,Checked At,Last Seen Online\r\n"));
        QVERIFY(csv.contains("\"'=1+2\",ann@x,Online,2023-11-14T22:13:20Z,2023-11-14T22:13:20Z\r\n"));
        for (const QByteArray& line : csv.split('\n'))
            QVERIFY2(!line.startsWith('=') && !line.startsWith('-') && !line.startsWith('@') && !line.contains(",+"),
                     line.constData());
        QCOMPARE(shown(importContacts(csv, Format::Csv).contacts).join("|"), shown(contacts).join("|"));

        const QByteArray ctt = cttOf(contacts.size(), [&](qint64 i) { return contacts[i].email; });
        QStringList addresses;
        for (const ContactRecord& r : importContacts(ctt, Format::Ctt).contacts)
            addresses << r.email;
        QCOMPARE(addresses, (QStringList{"ann@x", "bob@x", "+cy@x", "zoe@x"}));
    }
};

QTEST_GUILESS_MAIN(ContactExchangeTest)
#include "test_contactexchange.moc"
