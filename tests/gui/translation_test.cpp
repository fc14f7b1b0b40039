#include "translation.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TranslationTest : public QObject {
    Q_OBJECT

private slots:
    void buildCarriesTheTranslation() {
        QVERIFY(
            QFileInfo::exists(QStringLiteral(KEYLOFT_PROGRAM_DIR "/translations/qtbase_ja.qm")));
    }

    void qtTextsAreJapanese() {
        QVERIFY(keyloft::installJapaneseQtTranslation(*qApp));

        QMessageBox box(QMessageBox::Question, u"Keyloft"_s, u"?"_s,
                        QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), u"キャンセル"_s);
        QCOMPARE(box.button(QMessageBox::Ok)->text(), u"OK"_s);

        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QVERIFY(menu->actions().first()->text().startsWith(u"元に戻す"_s));
    }
};

QTEST_MAIN(TranslationTest)
#include "translation_test.moc"
