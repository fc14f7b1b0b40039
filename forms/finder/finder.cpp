#include "finder.h"

#include "about.h"
#include "browser_opener.h"
#include "edit_setting.h"
#include "list_tools.h"
#include "list_view.h"
#include "message_boxes.h"
#include "node_level.h"
#include "program_info.h"
#include "resource_images.h"
#include "settings_store.h"
#include "store_text.h"
#include "tree_tools.h"
#include "tree_view.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <string_view>
#include <utility>

namespace keyloft {

using namespace Qt::StringLiterals;

namespace {

// Indexes into ImageList1.
constexpr int kImageComputer = 1;
constexpr int kImageClosedFolder = 2;
constexpr int kImageOpenFolder = 3;
constexpr int kImagePage = 4;

constexpr int kLevelRoot = 1;
constexpr int kLevelApplication = 2;
constexpr int kLevelSection = 3;

// A node's key is its parent's key, "\" and its own name. No registry key name holds a "\", so
// no application or section can take the key of another node, nor the root's, and NodeLevel
// always finds the root where it is.
QString childKey(const TreeNode& parent, const QString& name) {
    return parent.Key() + u'\\' + name;
}

QColor buttonFace() {
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Button);
}

} // namespace

Finder::Finder(SettingsStore& store, MessageBoxes& boxes, BrowserOpener& browser,
               const QString& computerName, const QString& userName, QWidget* parent)
    : QMainWindow(parent), store_(store), boxes_(boxes), browser_(browser),
      rootText_(computerName + u'(' + userName + u')') {
    setWindowTitle(programTitle());
    setWindowIcon(imageIcon(u"computer"));
    for (const auto* image : {u"computer", u"folder_closed", u"folder_open", u"page"})
        ImageList1.Add(imageIcon(image));
    createControls();
    createMenus();

    const int menuHeight = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
    resize(twips(8280), twips(5400) + menuHeight);
    winId(); // where the platform knows the frame before the window shows (Windows), it counts
    centreOnScreen();

    Form_Load();
}

Finder::~Finder() = default;

void Finder::createControls() {
    // The controls stand where they were designed; only Form_Resize moves them.
    client_ = new QWidget(this);
    setCentralWidget(client_);
    client_->installEventFilter(this);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(u"StatusBar1"_s);
    StatusBar1->setFixedHeight(twips(255));
    statusText_ = new QLabel(StatusBar1);
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1->addWidget(statusText_, 1);
    setStatusBar(StatusBar1);

    const QSize imageSize(16, 16);
    tview_01 = new TreeView(client_);
    tview_01->setObjectName(u"tview_01"_s);
    tview_01->setGeometry(twips(0), twips(0), twips(3375), twips(5115));
    tview_01->setIconSize(imageSize);
    tview_01->SetImageList(&ImageList1);

    lview_01 = new ListView(client_);
    lview_01->setObjectName(u"lview_01"_s);
    lview_01->setGeometry(twips(3420), twips(0), twips(4860), twips(5115));
    lview_01->setIconSize(imageSize);
    lview_01->SetImageList(&ImageList1);
    lview_01->setHeaderLabels({u"キー名称"_s, u"設定値"_s});
    lview_01->setColumnWidth(0, twips(2200));
    lview_01->setColumnWidth(1, twips(2400));
    lview_01->SetMultiSelect(true);
    lview_01->SetSortOrder(Qt::DescendingOrder); // so that the first header click sorts A to Z

    setTabOrder(tview_01, lview_01);
    tview_01->setFocus();
}

void Finder::createMenus() {
    // Window-wide shortcuts: they act wherever the focus is within the window.
    const auto menu = [this](const QString& name, const QString& caption) {
        QMenu* m = menuBar()->addMenu(caption);
        m->setObjectName(name);
        return m;
    };
    const auto item = [](QMenu* in, const QString& name, const QString& caption,
                         const QKeySequence& shortcut) {
        QAction* a = in->addAction(caption);
        a->setObjectName(name);
        a->setShortcut(shortcut);
        return a;
    };
    MenuFile = menu(u"MenuFile"_s, u"ﾌｧｲﾙ(&F)"_s);
    MenuClose = item(MenuFile, u"MenuClose"_s, u"閉じる(&W)"_s, QKeySequence(Qt::CTRL | Qt::Key_W));
    MenuEdit = menu(u"MenuEdit"_s, u"編集(&E)"_s);
    MenuNew = item(MenuEdit, u"MenuNew"_s, u"新規(&N)"_s, QKeySequence(Qt::CTRL | Qt::Key_N));
    MenuDel = item(MenuEdit, u"MenuDel"_s, u"削除(&D)"_s, QKeySequence(Qt::Key_Delete));
    MenuView = menu(u"MenuView"_s, u"表示(&V)"_s);
    MenuReload = item(MenuView, u"MenuReload"_s, u"再読込(&R)"_s, QKeySequence(Qt::Key_F5));
    MenuHelp = menu(u"MenuHelp"_s, u"ﾍﾙﾌﾟ(&H)"_s);
    MenuAbout = item(MenuHelp, u"MenuAbout"_s, u"ﾊﾞｰｼﾞｮﾝ情報(&A)"_s, QKeySequence());

    connect(MenuClose, &QAction::triggered, this, &Finder::MenuClose_Click);
    connect(MenuNew, &QAction::triggered, this, &Finder::MenuNew_Click);
    connect(MenuDel, &QAction::triggered, this, &Finder::MenuDel_Click);
    connect(MenuReload, &QAction::triggered, this, &Finder::MenuReload_Click);
    connect(MenuAbout, &QAction::triggered, this, &Finder::MenuAbout_Click);
}

// The whole window, frame included, stands in the middle of the screen.
void Finder::centreOnScreen() {
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void Finder::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!std::exchange(shownOnce_, true))
        centreWhenFramed(25);
}

// Some window systems (X11) tell the frame's size only after the window is on screen: then the
// window is centred once more, as soon as the frame is known.
void Finder::centreWhenFramed(int triesLeft) {
    if (frameGeometry().size() != size())
        return centreOnScreen();
    if (triesLeft > 0)
        QTimer::singleShot(20, this, [this, triesLeft] { centreWhenFramed(triesLeft - 1); });
}

void Finder::Form_Load() {
    treeTool = std::make_unique<TreeTOOLs>();
    treeTool->init(*tview_01, rootText_, std::nullopt, kImageComputer);
    // Which prefix (or registry key) is open, for a user who keeps several.
    const QString location = fromStore(store_.Location());
    treeTool->Root_Node()->setToolTip(0, location);
    StatusBar1->setToolTip(location);
    listTool = std::make_unique<ListTOOLs>();
    listTool->init(*lview_01);
    ResetView();
    connect(tview_01, &TreeView::NodeClick, this, [this](TreeNode* node) {
        if (node)
            tview_01_NodeClick(*node);
    });
    connect(lview_01, &ListView::ColumnClick, this, &Finder::lview_01_ColumnClick);
    connect(lview_01, &ListView::ItemClick, this, &Finder::lview_01_ItemClick);
    connect(lview_01, &ListView::Click, this, &Finder::lview_01_Click);
    connect(lview_01, &ListView::DblClick, this, &Finder::lview_01_DblClick);
    connect(lview_01, &ListView::MouseDown, this, &Finder::lview_01_MouseDown);
    connect(tview_01, &TreeView::MouseDown, this, &Finder::tview_01_MouseDown);
}

bool Finder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void Finder::Form_Resize() {
    // The client area is what lies below the menu bar, the status bar included.
    const int clientWidth = client_->width();
    const int clientHeight = client_->height() + StatusBar1->height();
    if (const int height = clientHeight - StatusBar1->height(); height >= 0)
        tview_01->resize(tview_01->width(), height);
    if (const int height = clientHeight - StatusBar1->height(); height >= 0)
        lview_01->resize(lview_01->width(), height);
    if (const int width = clientWidth - lview_01->x(); width >= 0)
        lview_01->resize(width, lview_01->height());
}

void Finder::closeEvent(QCloseEvent* event) {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    const auto answer =
        boxes_.show(this, program + u"を終了します。よろしいですか？"_s, QMessageBox::Question,
                    QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer == QMessageBox::Ok)
        event->accept();
    else
        event->ignore();
}

void Finder::ResetView() {
    listTool->initItem();
    treeTool->Init_Node(*treeTool->Root_Node());
    LoadApplications();
    TreeNode* root = treeTool->Root_Node();
    root->SetExpanded(true);
    root->SetSelected(true); // raises no NodeClick: the state of the root follows here
    setSelectionState(false, false);
    setStatusText(treeTool->nowNode->Text());
}

void Finder::LoadApplications() {
    const auto names = store_.EnumRegSubKeys(kSettingsBasePath);
    treeTool->SetNowNode(treeTool->Root_Node());
    for (const Text& name : names) {
        const QString application = fromStore(name);
        treeTool->AddNodeChild(application, childKey(*treeTool->nowNode, application),
                               kImageClosedFolder);
    }
}

void Finder::LoadSections(const QString& application) {
    // Every section at every depth, each by its path, as the program that stored it names it.
    const auto names = store_.GetSections(toStore(application));
    for (const Text& name : names) {
        const QString section = fromStore(name);
        treeTool->AddNodeChild(section, childKey(*treeTool->nowNode, section), kImageClosedFolder);
    }
}

void Finder::tview_01_NodeClick(TreeNode& Node) {
    treeTool->SetNowNode(&Node);

    // Images and status bar follow the tree's own selection; the list follows Node.
    TreeNodeCollection& nodes = tview_01->Nodes();
    TreeNode* root = treeTool->Root_Node();
    for (int i = 1; i <= nodes.Count(); ++i) {
        TreeNode* node = nodes.Item(i);
        if (node == root)
            continue;
        if (node->Selected()) {
            node->SetImage(kImageOpenFolder);
            setStatusText(node->FullPath());
        } else {
            node->SetImage(kImageClosedFolder);
        }
    }
    if (root->Selected())
        setStatusText(root->FullPath());

    switch (NodeLevel(Node)) {
    case kLevelRoot:
        listTool->initItem();
        setSelectionState(false, false);
        break;
    case kLevelApplication:
        listTool->initItem();
        treeTool->Init_Node(Node);
        LoadSections(Node.Text());
        setSelectionState(false, true);
        break;
    case kLevelSection:
        listTool->initItem();
        LoadSettingsList(Node);
        setSelectionState(true, true);
        break;
    default:
        break;
    }
}

void Finder::LoadSettingsList(TreeNode& section) {
    const auto settings =
        store_.GetAllSettings(toStore(section.Parent()->Text()), toStore(section.Text()));
    for (const Setting& setting : settings) {
        const QString key = fromStore(setting.key);
        listTool->AddListItem(key, u'L' + key, kImagePage, QStringList{fromStore(setting.value)});
    }
    ListItemCollection& rows = lview_01->ListItems();
    for (int i = 1; i <= rows.Count(); ++i)
        rows.Item(i)->SetSelected(false);
    itemClicked = false;
}

// Only a section's list takes input: white itself then, not the system colour; grey otherwise.
void Finder::setSelectionState(bool listEnabled, bool deletable) {
    lview_01->SetBackColor(listEnabled ? QColor(0xFF, 0xFF, 0xFF) : buttonFace());
    lview_01->setEnabled(listEnabled);
    MenuDel->setEnabled(deletable);
}

void Finder::setStatusText(const QString& text) {
    statusText_->setText(text);
}

void Finder::MenuClose_Click() {
    close();
}

void Finder::MenuNew_Click() {
    Edit_Setting dialog(store_, boxes_, *this);
    dialog.Let_FormMode_is_New(true);
    dialog.Let_RegNode(*treeTool->nowNode);
    dialog.exec();
}

void Finder::MenuReload_Click() {
    ResetView();
}

void Finder::MenuAbout_Click() {
    About box(browser_, this);
    box.exec();
}

// Selected rows win over the node: while any is selected, no section or application goes.
void Finder::MenuDel_Click() {
    std::vector<Text> below;
    const QString warning =
        u"よろしいですか？\r\n\r\n誤った削除を行なった場合にはアプリケーションが動作しなくなる可能性があります。"_s;
    std::vector<Text> keys;
    ListItemCollection& rows = lview_01->ListItems();
    for (int i = 1; i <= rows.Count(); ++i) {
        if (rows.Item(i)->Selected())
            keys.push_back(rows.Item(i)->Text().toStdU16String());
    }
    if (!keys.empty())
        return deleteKeys(keys, warning);

    TreeNode& node = *treeTool->nowNode;
    QString question;
    switch (NodeLevel(node)) {
    case kLevelApplication:
        question = u"アプリケーション「"_s + node.Text() + u"」の設定情報を全て削除します。"_s;
        break;
    case kLevelSection:
        question = u"アプリケーション「"_s + node.Parent()->Text() + u"」の\r\nセクション「"_s +
                   node.Text() + u"」の設定情報を全て削除します。"_s;
        below = sectionsBelow(node);
        if (!below.empty()) {
            question += u"\r\nその下のセクション"_s;
            for (const Text& section : below)
                question += u"「"_s + fromStore(section) + u"」"_s;
            question += u"も削除します。"_s;
        }
        break;
    default:
        boxes_.show(this, u"削除できないノードを選択しています\r\n\r\n"_s + node.FullPath(),
                    QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    if (boxes_.show(this, question + warning, QMessageBox::Question,
                    QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    try {
        if (NodeLevel(node) == kLevelApplication)
            store_.DeleteSetting(toStore(node.Text()));
        else
            store_.DeleteSetting(toStore(node.Parent()->Text()), toStore(node.Text()));
    } catch (const StoreError& e) {
        boxes_.show(this, fromStore(e.description()), QMessageBox::Warning, QMessageBox::Ok,
                    QMessageBox::Ok);
        return showStored(node);
    }
    if (NodeLevel(node) == kLevelSection)
        removeSectionsBelow(node);
    removeCurrentNode();
}

// The sections the store holds below the node's, read afresh so that the confirmation names
// every one that goes, those another program made since the tree was read too.
std::vector<Text> Finder::sectionsBelow(const TreeNode& section) const {
    const Text path(toStore(section.Text()));
    std::vector<Text> below;
    for (Text& s : store_.GetSections(toStore(section.Parent()->Text())))
        if (s.size() > path.size() && isWithinSection(s, path))
            below.push_back(std::move(s));
    return below;
}

// Their nodes leave the tree with the section's.
void Finder::removeSectionsBelow(const TreeNode& section) {
    const Text path(toStore(section.Text()));
    TreeNodeCollection& nodes = tview_01->Nodes();
    for (int i = nodes.Count(); i >= 1; --i) {
        TreeNode* node = nodes.Item(i);
        if (node != &section && node->Parent() == section.Parent() &&
            isWithinSection(toStore(node->Text()), path))
            nodes.Remove(i);
    }
}

// After a failed delete, what another program removed meanwhile leaves the tree, so that a later
// Delete does not fail on it again; what is still stored stays current and is read afresh.
void Finder::showStored(TreeNode& node) {
    const auto stored = [](const std::vector<Text>& names, const QString& name) {
        return std::ranges::find(names, toStore(name)) != names.end();
    };
    TreeNode* application = NodeLevel(node) == kLevelSection ? node.Parent() : &node;
    const bool applicationStored =
        stored(store_.EnumRegSubKeys(kSettingsBasePath), application->Text());
    TreeNode* current = &node;
    if (!applicationStored ||
        (current != application &&
         !stored(store_.GetSections(toStore(application->Text())), node.Text())))
        current = application;
    // Current first, so that the tree selects in its place what it selects when it is deleted.
    current->SetSelected(true);
    treeTool->SetNowNode(current);
    if (!applicationStored)
        return removeCurrentNode();
    tview_01_NodeClick(*current);
}

void Finder::deleteKeys(const std::vector<Text>& keys, const QString& warning) {
    if (boxes_.show(this,
                    u"選択された"_s + QString::number(keys.size()) +
                        u"個のキー情報を削除します。"_s + warning,
                    QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel,
                    QMessageBox::Cancel) != QMessageBox::Ok) {
        lview_01->SetMultiSelect(false);
        lview_01->SetMultiSelect(true);
        return;
    }
    TreeNode& section = *treeTool->nowNode;
    try {
        store_.DeleteSettings(toStore(section.Parent()->Text()), toStore(section.Text()), keys);
    } catch (const StoreError& e) {
        // Keys before the failing one are gone already: the list shows what is stored.
        boxes_.show(this, fromStore(e.description()), QMessageBox::Warning, QMessageBox::Ok,
                    QMessageBox::Ok);
    }
    tview_01_NodeClick(section);
}

// A removed node must not stay current: the node the tree selects in its place is handled as if
// the user had clicked it, so that the list, the status bar and the commands all follow it.
void Finder::removeCurrentNode() {
    tview_01->Nodes().Remove(treeTool->nowNode->Index());
    TreeNode* next = tview_01->CurrentNode();
    if (!next)
        next = treeTool->Root_Node();
    next->SetSelected(true);
    tview_01_NodeClick(*next);
}

void Finder::lview_01_ColumnClick(int column) {
    lview_01->SetSortOrder(lview_01->SortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                       : Qt::AscendingOrder);
    lview_01->SetSortKey(column - 1);
    lview_01->SetSorted(true);
}

void Finder::lview_01_ItemClick() {
    itemClicked = true;
}

// A click that hit no row clears the selection.
void Finder::lview_01_Click() {
    if (std::exchange(itemClicked, false))
        return;
    ListItemCollection& rows = lview_01->ListItems();
    for (int i = 1; i <= rows.Count(); ++i)
        rows.Item(i)->SetSelected(false);
}

// The Edit menu pops up over a row or a node, and acts on what is selected already.
void Finder::lview_01_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint at) {
    if (button == Qt::RightButton && lview_01->HitTest(at))
        MenuEdit->popup(lview_01->viewport()->mapToGlobal(at));
}

void Finder::tview_01_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint at) {
    if (button == Qt::RightButton && tview_01->HitTest(at))
        MenuEdit->popup(tview_01->viewport()->mapToGlobal(at));
}

// One dialog after another, for each row still selected when its turn comes. A save refills the
// list, which leaves no row selected; another program may have shortened it meanwhile.
void Finder::lview_01_DblClick() {
    ListItemCollection& rows = lview_01->ListItems();
    const int count = rows.Count();
    for (int i = 1; i <= count && i <= rows.Count(); ++i) {
        const ListItem* row = rows.Item(i);
        if (!row->Selected())
            continue;
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        Edit_Setting dialog(store_, boxes_, *this);
        dialog.Let_FormMode_is_New(false);
        dialog.Let_RegNode(*treeTool->nowNode);
        dialog.Let_RegKey(row->Text());
        QGuiApplication::restoreOverrideCursor();
        dialog.exec();
    }
}

} // namespace keyloft
