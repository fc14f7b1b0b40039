#pragma once

#include "image_list.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;

namespace keyloft {

class BrowserOpener;
class ListItem;
class ListTOOLs;
class ListView;
class MessageBoxes;
class SettingsStore;
class TreeNode;
class TreeTOOLs;
class TreeView;

// The main window: the settings area as a tree of applications and sections beside the
// selected section's settings.
class Finder : public QMainWindow {
    Q_OBJECT

public:
    Finder(SettingsStore& store, MessageBoxes& boxes, BrowserOpener& browser,
           const QString& computerName, const QString& userName, QWidget* parent = nullptr);
    ~Finder() override;

    // Puts the window into the state for Node: root, application (its sections listed afresh)
    // or section (its settings listed afresh). Also how other windows refresh this one.
    void tview_01_NodeClick(TreeNode& Node);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // The commands and the pointer on list and tree.
    void MenuClose_Click();
    void MenuNew_Click();
    void MenuDel_Click();
    void MenuReload_Click();
    void MenuAbout_Click();
    void lview_01_ColumnClick(int column);
    void lview_01_ItemClick();
    void lview_01_Click();
    void lview_01_DblClick();
    void lview_01_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint at);
    void tview_01_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint at);

private:
    void createControls();
    void createMenus();
    void centreOnScreen();
    void centreWhenFramed(int triesLeft);
    void Form_Load();
    void Form_Resize();
    void ResetView();
    void LoadApplications();
    void LoadSections(const QString& application);
    void LoadSettingsList(TreeNode& section);
    void setSelectionState(bool listEnabled, bool deletable);
    void setStatusText(const QString& text);
    void deleteKeys(const std::vector<std::u16string>& keys, const QString& warning);
    void removeCurrentNode();
    void showStored(TreeNode& node);
    std::vector<std::u16string> sectionsBelow(const TreeNode& section) const;
    void removeSectionsBelow(const TreeNode& section);

    SettingsStore& store_;
    MessageBoxes& boxes_;
    BrowserOpener& browser_;
    QString rootText_;

    ImageList ImageList1;
    QWidget* client_ = nullptr; // between menu bar and status bar
    QStatusBar* StatusBar1 = nullptr;
    QLabel* statusText_ = nullptr;
    TreeView* tview_01 = nullptr;
    ListView* lview_01 = nullptr;

    QMenu* MenuFile = nullptr;
    QAction* MenuClose = nullptr;
    QMenu* MenuEdit = nullptr;
    QAction* MenuNew = nullptr;
    QAction* MenuDel = nullptr;
    QMenu* MenuView = nullptr;
    QAction* MenuReload = nullptr;
    QMenu* MenuHelp = nullptr;
    QAction* MenuAbout = nullptr;

    std::unique_ptr<TreeTOOLs> treeTool;
    std::unique_ptr<ListTOOLs> listTool;
    bool itemClicked = false;
    bool shownOnce_ = false;
};

} // namespace keyloft
