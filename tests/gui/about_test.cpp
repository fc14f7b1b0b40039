#include "about.h"
#include "finder_driver.h"
#include "home_page.h"
#include "scripted_message_boxes.h"

#include <QApplication>
#include <QBitmap>
#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

using namespace keyloft;
using namespace Qt::StringLiterals;

namespace {

QLabel* label(const QDialog& box, const QString& name) {
    return box.findChild<QLabel*>(name);
}

// Where the link leads from here: the installed-tree checks copy this test beside an installed
// program and name the README they expect; in the build tree, the build's own rule.
QString expectedHomePage() {
    return qEnvironmentVariable("KEYLOFT_EXPECTED_HOME_PAGE",
                                homePage(QCoreApplication::applicationDirPath()));
}

} // namespace

class AboutTest : public testing::WindowTest {
    Q_OBJECT

private slots:
    void showsTheProgramsIdentity() {
        modals_.then([](QDialog& box) {
            QCOMPARE(box.windowTitle(), u"Keyloftの情報"_s);
            QCOMPARE(box.size(), QSize(337, 116));
            QCOMPARE(box.minimumSize(), box.maximumSize());
            QVERIFY(!(box.windowFlags() & Qt::WindowMinMaxButtonsHint));
            QCOMPARE(label(box, u"lblTitle"_s)->text(), u"Keyloft"_s);
            QCOMPARE(label(box, u"lblVersion"_s)->text(), u"ﾊﾞｰｼﾞｮﾝ: 1.3.0"_s);
            QCOMPARE(label(box, u"lblComment"_s)->text(), u"比較的安全なﾚｼﾞｽﾄﾘｴﾃﾞｨﾀ"_s);
            QCOMPARE(label(box, u"CopyRight"_s)->text(), u"© 2026 Keyloft developers"_s);
            QVERIFY(!label(box, u"picIcon"_s)->pixmap().isNull());
            QCOMPARE(box.findChild<QWidget*>(u"Line1"_s)->palette().color(QPalette::Window),
                     QColor(128, 128, 128));
            for (const auto& [name, points] :
                 {std::pair(u"lblTitle"_s, 12.0), {u"lblComment"_s, 9.75}, {u"URL_Label"_s, 9.75}})
                QCOMPARE(label(box, name)->font().pointSizeF(), points);
            const QLabel* link = label(box, u"URL_Label"_s);
            QVERIFY(link->font().underline());
            QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
            QCOMPARE(link->toolTip(), u"ﾀﾞﾌﾞﾙｸﾘｯｸでﾎｰﾑﾍﾟｰｼﾞへ..."_s);
            QCOMPARE(link->cursor().shape(), Qt::BitmapCursor);
            QCOMPARE(link->cursor().hotSpot(), QPoint(6, 1));
            QCOMPARE(link->cursor().pixmap().size(), QSize(32, 32));
            QCOMPARE(box.cursor().shape(), Qt::ArrowCursor);
            QVERIFY(box.findChild<QPushButton*>(u"cmdOK"_s)->isDefault());
        });
        window_->action(u"MenuAbout"_s)->trigger();
    }

    // The designed fonts, else the installed Japanese one.
    void japaneseFonts() {
        if (testing::underWine())
            QSKIP("under Wine, Qt's offscreen platform for Windows finds no font with Japanese "
                  "glyphs (it reads no system font folder); the windows platform draws them");
        About box(window_->browser(), &window_->window());
        for (const auto* name : {u"lblTitle", u"lblComment", u"URL_Label"}) {
            const QFontInfo font(label(box, QString::fromUtf16(name))->font());
            QVERIFY2(font.family().contains(u"ゴシック"_s) || font.family().contains(u"Gothic"_s) ||
                         font.family().contains(u"CJK JP"_s),
                     qPrintable(font.family()));
        }
    }

    // The link opens the address once, for a click, a double click or Space, and a browser that
    // fails shows nothing; Enter, Esc, OK and the close box each close the box.
    void linkAndClosing_data() {
        QTest::addColumn<QString>("open");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QString>("close");
        QTest::addColumn<int>("opened");
        QTest::newRow("click, Enter") << u"click"_s << true << u"enter"_s << 1;
        QTest::newRow("double click, Esc") << u"double"_s << true << u"esc"_s << 1;
        QTest::newRow("double click let go outside, a click")
            << u"outside"_s << true << u"esc"_s << 2;
        QTest::newRow("Space, OK") << u"space"_s << true << u"ok"_s << 1;
        QTest::newRow("no browser, close box") << u"click"_s << false << u"close"_s << 1;
    }

    void linkAndClosing() {
        QFETCH(QString, open);
        QFETCH(bool, succeeds);
        QFETCH(QString, close);
        QFETCH(int, opened);
        window_->browser().succeeds = succeeds;
        modals_.then([&](QDialog& box) {
            QLabel* link = label(box, u"URL_Label"_s);
            const QPoint at = link->rect().center();
            if (open == u"space"_s) {
                link->setFocus();
                QTest::keyClick(link, Qt::Key_Space);
            } else {
                QTest::mouseClick(link, Qt::LeftButton, {}, at);
            }
            if (open != u"click"_s && open != u"space"_s) { // the rest of a double click
                QMouseEvent twice(QEvent::MouseButtonDblClick, at, link->mapToGlobal(at),
                                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(link, &twice);
                if (open == u"double"_s) {
                    QTest::mouseRelease(link, Qt::LeftButton, {}, at);
                } else {
                    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-1, -1));
                    QTest::mouseClick(link, Qt::LeftButton, {}, at);
                }
            }
            QVERIFY(box.isVisible());
            if (close == u"ok"_s)
                QTest::mouseClick(box.findChild<QPushButton*>(u"cmdOK"_s), Qt::LeftButton);
            else if (close == u"close"_s)
                box.close();
            else
                QTest::keyClick(&box, close == u"esc"_s ? Qt::Key_Escape : Qt::Key_Return);
            QVERIFY(!box.isVisible());
        });
        window_->action(u"MenuAbout"_s)->trigger();
        QCOMPARE(window_->browser().opened, QStringList(opened, expectedHomePage()));
    }

    // The README's address from the program's folder, wherever that lies, as a browser reads it.
    void readmeAddress_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("address");
        QTest::newRow("Windows, beside the program")
            << u"C:/users/太郎/テスト フォルダ/Keyloft"_s << u"README.md"_s
            << u"file:///C:/users/%E5%A4%AA%E9%83%8E/%E3%83%86%E3%82%B9%E3%83%88%20"
               u"%E3%83%95%E3%82%A9%E3%83%AB%E3%83%80/Keyloft/README.md"_s;
        QTest::newRow("Linux, the doc folder of the prefix")
            << u"/opt/Keyloft 1.3/bin"_s << u"../share/doc/keyloft/README.md"_s
            << u"file:///opt/Keyloft%201.3/share/doc/keyloft/README.md"_s;
        QTest::newRow("what a URL would take for its own")
            << u"/srv/a#b%c?d;e/bin"_s << u"../share/doc/keyloft/README.md"_s
            << u"file:///srv/a%23b%25c%3Fd;e/share/doc/keyloft/README.md"_s;
    }

    void readmeAddress() {
        QFETCH(QString, folder);
        QFETCH(QString, relative);
        QFETCH(QString, address);
        QCOMPARE(fileAddress(folder, relative), address);
    }

    // The box shows the address as the user would write it, and opens it encoded.
    void addressShown() {
        About box(window_->browser(), &window_->window());
        const auto* link = static_cast<const LinkLabel*>(label(box, u"URL_Label"_s));
        QCOMPARE(link->address(), expectedHomePage());
        QVERIFY2(!link->text().contains(u'%'), qPrintable(link->text()));
    }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
