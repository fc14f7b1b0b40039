#include "about.h"

#include "browser_opener.h"
#include "home_page.h"
#include "program_info.h"
#include "resource_images.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QUrl>

namespace keyloft {

using namespace Qt::StringLiterals;

namespace {

// The designed fonts where Windows has them; elsewhere the Japanese font Debian installs.
QFont designedFont(const QStringList& families, qreal points) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setWeight(QFont::Normal);
    return font;
}
QFont pGothic(qreal points) {
    return designedFont({u"ＭＳ Ｐゴシック"_s, u"MS PGothic"_s, u"Noto Sans CJK JP"_s}, points);
}
QFont gothic(qreal points) {
    return designedFont({u"ＭＳ ゴシック"_s, u"MS Gothic"_s, u"Noto Sans Mono CJK JP"_s}, points);
}

template <class Widget>
Widget* make(QWidget* parent, const QString& name, int left, int top, int width, int height) {
    auto* widget = new Widget(parent);
    widget->setObjectName(name);
    widget->setGeometry(twips(left), twips(top), twips(width), twips(height));
    return widget;
}

// Labels keep their designed place and grow where the font needs more room than designed.
void fit(QLabel& label, int maxWidth) {
    const QSize hint = label.sizeHint();
    label.resize(std::min(std::max(label.width(), hint.width()), maxWidth),
                 std::max(label.height(), hint.height()));
}

} // namespace

LinkLabel::LinkLabel(const QString& address, BrowserOpener& browser, QWidget* parent)
    : QLabel(parent), address_(address), browser_(browser) {
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(address);
}

void LinkLabel::open() {
    browser_.open(address_); // a browser that fails says nothing, and the box stays open
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // Cleared wherever the button is let go, lest the next click on the link be taken for the
    // rest of a double click.
    if (!std::exchange(afterDoubleClick_, false) && rect().contains(event->position().toPoint()))
        open();
}

void LinkLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    // The first click of the two has opened the page already.
    afterDoubleClick_ = event->button() == Qt::LeftButton;
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier)
        open();
    else
        QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.state |= QStyle::State_KeyboardFocusChange; // only the keyboard brings the focus here
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

About::About(BrowserOpener& browser, QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips(5055), twips(1740));
    setWindowIcon(imageIcon(u"computer"));

    picIcon = make<QLabel>(this, u"picIcon"_s, 120, 120, 540, 540);
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTitle = make<QLabel>(this, u"lblTitle"_s, 930, 120, 3765, 255);
    lblComment = make<QLabel>(this, u"lblComment"_s, 960, 480, 3765, 225);
    lblVersion = make<QLabel>(this, u"lblVersion"_s, 960, 750, 3765, 225);
    Line1 = make<QWidget>(this, u"Line1"_s, 60, 1080, 4920, 0);
    Line1->resize(Line1->width(), 1);
    Line1->setAutoFillBackground(true);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(grey);
    CopyRight = make<QLabel>(this, u"CopyRight"_s, 180, 1170, 4455, 285);
    // First in the focus order, so that it has the focus when the box opens.
    cmdOK = make<QPushButton>(this, u"cmdOK"_s, 3720, 1320, 1185, 315);
    cmdOK->setText(u"OK"_s);
    cmdOK->setDefault(true); // Enter; Esc rejects, which closes the box as well
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    const QString address = homePage(QCoreApplication::applicationDirPath());
    URL_Label = new LinkLabel(address, browser, this);
    URL_Label->setObjectName(u"URL_Label"_s);
    URL_Label->setGeometry(twips(180), twips(1440), twips(2520), twips(195));
    URL_Label->setToolTip(u"ﾀﾞﾌﾞﾙｸﾘｯｸでﾎｰﾑﾍﾟｰｼﾞへ..."_s);

    for (QLabel* label : {lblComment, lblVersion, CopyRight})
        label->setFont(pGothic(9.75));
    lblTitle->setFont(pGothic(12));
    Form_Load();
}

void About::Form_Load() {
    setWindowTitle(programTitle() + u"の情報"_s);
    lblVersion->setText(u"ﾊﾞｰｼﾞｮﾝ: %1.%2.%3"_s.arg(identity::kVersionMajor)
                            .arg(identity::kVersionMinor)
                            .arg(identity::kVersionRevision));
    lblTitle->setText(programTitle());
    lblComment->setText(fromIdentity(identity::kComment));
    CopyRight->setText(fromIdentity(identity::kLegalNotice));
    picIcon->setPixmap(windowIcon().pixmap(32, 32));

    QFont link = gothic(9.75);
    link.setUnderline(true);
    URL_Label->setFont(link);
    QPalette blue = URL_Label->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    URL_Label->setPalette(blue);
    URL_Label->setCursor(handCursor());

    // A long address keeps clear of the button: shortened in the middle, opened whole. It reads
    // as the user would write it (a folder テスト フォルダ, not %E3%83%86...).
    const int room = cmdOK->x() - URL_Label->x() - twips(60);
    const QString shown = QUrl(URL_Label->address()).toDisplayString();
    URL_Label->setText(QFontMetrics(link).elidedText(shown, Qt::ElideMiddle, room));
    for (QLabel* label : {lblTitle, lblComment, lblVersion, CopyRight})
        fit(*label, width() - label->x());
    fit(*URL_Label, room);
}

} // namespace keyloft
