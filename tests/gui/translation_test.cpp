#include "translation.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TranslationTest : public QObject {
    Q_OBJECT

private slots:
    void qtTextsAreJapanese() {
        // Where the program looks first; Qt's own folder may lack it on the user's machine.
        QVERIFY(
            QFileInfo::exists(QStringLiteral(KEYLOFT_PROGRAM_DIR "/translations/qtbase_ja.qm")));
        QVERIFY(keyloft::installJapaneseQtTranslation(*qApp));
        QMessageBox box(QMessageBox::Question, u"Keyloft"_s, u"?"_s,
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), u"キャンセル"_s);
    }
};

QTEST_MAIN(TranslationTest)
#include "translation_test.moc"
