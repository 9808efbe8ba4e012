// SPDX-License-Identifier: GPL-3.0-or-later
// The contact file fuzz harness run over its seed corpus with the ordinary compiler, so its
// properties are checked on every test run and an input the fuzzer once crashed on, once added
// to the corpus, stays fixed.

#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

class ContactFuzzSeedsTest : public QObject {
    Q_OBJECT

private slots:
    void seedsKeepTheHarnessProperties();
};

void ContactFuzzSeedsTest::seedsKeepTheHarnessProperties() {
    const QDir corpus(QStringLiteral(CONTACT_FUZZ_CORPUS));
    const QStringList seeds = corpus.entryList(QDir::Files);
    QVERIFY(!seeds.isEmpty());
    for (const QString& seed : seeds) {
        QFile f(corpus.filePath(seed));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        // The harness aborts on a broken property; getting here is the pass.
        QCOMPARE(
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())),
            0);
    }
}

QTEST_GUILESS_MAIN(ContactFuzzSeedsTest)
#include "test_contactfuzzseeds.moc"
