#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

namespace keyloft {

class BrowserOpener;

// The home-page link of the About box: a click, or Space while it has the focus, opens the
// address; a double click opens it once.
class LinkLabel final : public QLabel {
    Q_OBJECT

public:
    LinkLabel(const QString& address, BrowserOpener& browser, QWidget* parent);
    const QString& address() const { return address_; }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void open();

    QString address_;
    BrowserOpener& browser_;
    bool afterDoubleClick_ = false;
};

// The program's title, version, comment and legal notice, and a link to its home page. Made
// afresh for every showing.
class About final : public QDialog {
    Q_OBJECT

public:
    About(BrowserOpener& browser, QWidget* parent);

private:
    void Form_Load();

    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblComment = nullptr;
    QLabel* lblVersion = nullptr;
    QWidget* Line1 = nullptr;
    QLabel* CopyRight = nullptr;
    LinkLabel* URL_Label = nullptr;
    QPushButton* cmdOK = nullptr;
};

} // namespace keyloft
