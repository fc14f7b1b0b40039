#include "finder_driver.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#ifdef _WIN32
#include <windows.h>
#else
#include <QFile>
#include <QFileInfo>
#endif

namespace keyloft::testing {

using namespace Qt::StringLiterals;

#ifdef _WIN32

bool underWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TempStore::TempStore() : store_(openDefaultStore()) {
    for (const Text& application : store_->EnumRegSubKeys(kSettingsBasePath))
        store_->DeleteSetting(application);
}

QString TempStore::location() const {
    return u"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings"_s;
}

std::unique_ptr<SettingsStore> TempStore::another() const {
    return openDefaultStore();
}

QByteArray TempStore::contents() const {
    QString all;
    for (const Text& application : store_->EnumRegSubKeys(kSettingsBasePath))
        for (const Text& section : store_->GetSections(application)) {
            all += QString::fromStdU16String(sectionKeyPath(application, section)) + u'\n';
            for (const Setting& setting : store_->GetAllSettings(application, section))
                all += QString::fromStdU16String(setting.key + u"=" + setting.value) + u'\n';
        }
    return all.toUtf8();
}

void TempStore::addDword(const QString& application, const QString& section, const QString& name,
                         quint32 value) const {
    const std::u16string key = u"Software\\VB and VBA Program Settings\\" +
                               (application + u'\\' + section).toStdU16String();
    HKEY handle = nullptr;
    const auto wide = [](const auto& text) {
        return reinterpret_cast<const wchar_t*>(text.c_str());
    };
    if (RegCreateKeyExW(HKEY_CURRENT_USER, wide(key), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(handle, wide(name.toStdU16String()), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof value) != ERROR_SUCCESS)
        QTest::qFail("the REG_DWORD value could not be written", __FILE__, __LINE__);
    if (handle)
        RegCloseKey(handle);
}

#else

bool underWine() {
    return false;
}

TempStore::TempStore() : store_(openWinePrefixStore(dir_.path().toStdString())) {}

QString TempStore::location() const {
    return dir_.path();
}

std::unique_ptr<SettingsStore> TempStore::another() const {
    return openWinePrefixStore(dir_.path().toStdString());
}

QByteArray TempStore::contents() const {
    QFile file(dir_.filePath(u"user.reg"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TempStore::addDword(const QString&, const QString&, const QString& name, quint32 value) const {
    QFile reg(dir_.filePath(u"user.reg"_s));
    const QByteArray line = '"' + name.toUtf8() +
                            "\"=dword:" + QByteArray::number(value, 16).rightJustified(8, '0') +
                            '\n';
    if (!reg.open(QIODevice::Append) || reg.write(line) != line.size())
        QTest::qFail("user.reg could not be appended to", __FILE__, __LINE__);
}

#endif

FinderDriver::FinderDriver(SettingsStore& store, MessageBoxes& boxes)
    : finder_(std::make_unique<Finder>(store, boxes, browser_, u"PC01"_s, u"taro"_s)) {
    finder_->show();
    if (!QTest::qWaitForWindowActive(finder_.get()))
        QTest::qFail("the main window did not become active", __FILE__, __LINE__);
}

FinderDriver::~FinderDriver() = default;

TreeView* FinderDriver::tree() const {
    return finder_->findChild<TreeView*>(u"tview_01"_s);
}

ListView* FinderDriver::list() const {
    return finder_->findChild<ListView*>(u"lview_01"_s);
}

QString FinderDriver::statusText() const {
    return finder_->findChild<QStatusBar*>(u"StatusBar1"_s)->findChild<QLabel*>()->text();
}

QAction* FinderDriver::action(const QString& name) const {
    auto* found = finder_->findChild<QAction*>(name);
    if (!found)
        QTest::qFail(qPrintable(u"no action "_s + name), __FILE__, __LINE__);
    return found;
}

TreeNode* FinderDriver::node(const QString& below) const {
    const QString path = below.isEmpty() ? u"PC01(taro)"_s : u"PC01(taro)\\"_s + below;
    for (int i = 1; i <= tree()->Nodes().Count(); ++i) {
        if (tree()->Nodes().Item(i)->FullPath() == path)
            return tree()->Nodes().Item(i);
    }
    return nullptr;
}

void FinderDriver::click(const QString& below) {
    if (!node(below) && below.contains(u'\\'))
        click(below.section(u'\\', 0, -2)); // its parent lists it
    TreeNode* target = node(below);
    if (!target)
        return QTest::qFail(qPrintable(u"no node "_s + below), __FILE__, __LINE__);
    tree()->scrollToItem(target);
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {},
                      tree()->visualItemRect(target).center());
}

void FinderDriver::selectRows(const QList<int>& rows) {
    ListItemCollection& items = list()->ListItems();
    for (int i = 1; i <= items.Count(); ++i)
        items.Item(i)->SetSelected(rows.contains(i));
}

void FinderDriver::doubleClickRow(int row) {
    const QPoint at = list()->visualItemRect(list()->ListItems().Item(row)).center();
    QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, at);
}

QStringList FinderDriver::childTexts(const QString& below) const {
    QStringList texts;
    const TreeNode* parent = node(below);
    for (int i = 0; parent && i < parent->Children(); ++i)
        texts.append(parent->child(i)->text(0));
    return texts;
}

QStringList FinderDriver::rows() const {
    QStringList rows;
    const ListItemCollection& items = list()->ListItems();
    for (int i = 1; i <= items.Count(); ++i)
        rows.append(items.Item(i)->Text() + u'=' + items.Item(i)->SubItems(1));
    return rows;
}

void typeInto(QDialog& editDialog, const QStringList& typed, bool ok) {
    auto next = typed.begin();
    for (const QString& name : {u"txt_App"_s, u"txt_Section"_s, u"txt_Key"_s, u"txt_Value"_s}) {
        auto* box = editDialog.findChild<QLineEdit*>(name);
        if (box->isReadOnly() || next == typed.end())
            continue;
        box->selectAll();
        QInputMethodEvent input;
        input.setCommitString(*next++);
        QApplication::sendEvent(box, &input);
    }
    if (ok)
        QTest::mouseClick(editDialog.findChild<QPushButton*>(u"cmd_Action_0"_s), Qt::LeftButton);
}

ModalScript::ModalScript() {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalScript::poll);
    timer_.start();
}

void ModalScript::then(Act act) {
    acts_.append(std::move(act));
}

bool ModalScript::finish() {
    const bool all = acts_.isEmpty();
    acts_.clear();
    return all;
}

void ModalScript::poll() {
    // A dialog that an act closed is no longer the active modal widget, so each act meets the
    // next dialog that opens.
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || acting_ || !dialog->isActiveWindow())
        return; // acts meet the dialog as the user does: shown and taking the keyboard
    if (acts_.isEmpty()) {
        QTest::qFail(qPrintable(u"unexpected dialog: "_s + dialog->windowTitle()), __FILE__,
                     __LINE__);
    } else {
        const Act act = acts_.takeFirst();
        acting_ = true;
        act(*dialog);
        acting_ = false;
    }
    if (dialog->isVisible())
        dialog->done(QDialog::Rejected);
}

void WindowTest::initTestCase() {
    // A window colour other than white, so that where white is meant it must be chosen.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Base, Qt::yellow);
    QApplication::setPalette(palette);
}

void WindowTest::init() {
    boxes_.clear(); // here, so that a failed cleanup does not carry over
    store_.emplace();
    seed();
    openWindow();
}

void WindowTest::cleanup() {
    QVERIFY(modals_.finish());
    window_.reset();
    QVERIFY(boxes_.allAnswered());
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

} // namespace keyloft::testing
