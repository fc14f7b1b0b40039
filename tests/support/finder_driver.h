#pragma once

#include "finder.h"
#include "list_view.h"
#include "recording_browser.h"
#include "scripted_message_boxes.h"
#include "settings_store.h"
#include "tree_view.h"

#include <QDialog>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QAction;

namespace keyloft {
class MessageBoxes;
} // namespace keyloft

namespace keyloft::testing {

// Whether this Windows build runs under Wine, whose collation and fonts differ from Windows' in
// places a case notes. False elsewhere.
bool underWine();

// The settings as the user's are kept, empty at first: names compare regardless of case, and
// other stores on the same settings play other programs. Elsewhere a Wine prefix in a temporary
// folder; on Windows the registry itself, which the tests only run on in a throwaway Wine prefix.
class TempStore {
public:
    TempStore();
    SettingsStore& operator*() const { return *store_; }
    SettingsStore* operator->() const { return store_.get(); }
    // What the window names as the settings' place: the prefix's folder, or the registry key.
    QString location() const;
    std::unique_ptr<SettingsStore> another() const;
    // Everything stored, to tell that nothing changed: the prefix's user.reg as it is on disk.
    QByteArray contents() const;
    // A value the list does not show, since it is no string: REG_DWORD `name` in the section
    // last written to (the last key of user.reg).
    void addDword(const QString& application, const QString& section, const QString& name,
                  quint32 value) const;

private:
#ifndef _WIN32
    QTemporaryDir dir_;
#endif
    std::unique_ptr<SettingsStore> store_;
};

// The main window for PC01(taro), shown, and driven as a user drives it. Nodes are named by their
// path below the root ("" for the root itself, "App\\Section").
class FinderDriver {
public:
    FinderDriver(SettingsStore& store, MessageBoxes& boxes);
    ~FinderDriver();

    Finder& window() const { return *finder_; }
    RecordingBrowser& browser() { return browser_; }
    TreeView* tree() const;
    ListView* list() const;
    QString statusText() const;
    // Fails the test when the window has no such action.
    QAction* action(const QString& name) const;
    TreeNode* node(const QString& below) const;

    // A left click on the node's text; first on its application, where that has not listed it.
    void click(const QString& below);
    // Selects exactly the rows with these 1-based numbers.
    void selectRows(const QList<int>& rows);
    // A left double click on row `row`.
    void doubleClickRow(int row);

    QStringList childTexts(const QString& below) const;
    QStringList rows() const; // "key=value", in list order

private:
    RecordingBrowser browser_;
    std::unique_ptr<Finder> finder_;
};

// Types into each editable box of the edit dialog in turn (application, section, key, value),
// replacing its text, as an input method hands text over; then, with `ok`, clicks OK.
void typeInto(QDialog& editDialog, const QStringList& typed, bool ok = false);

// Acts on the modal dialogs that open, one act each, in order, from within their exec(). After
// its act a dialog is closed whatever the act did, and a dialog no act awaits fails the test and
// is closed, so exec() always returns and no test can hang on a dialog.
class ModalScript : public QObject {
public:
    using Act = std::function<void(QDialog&)>;

    ModalScript();
    void then(Act act);
    // True when every act has run; drops those that have not, so none carries over to the next
    // test.
    bool finish();

private:
    void poll();

    QList<Act> acts_;
    QTimer timer_;
    bool acting_ = false; // an act that waits must not hand its dialog to the next act
};

} // namespace keyloft::testing

namespace keyloft::testing {

// What the window tests share: a store of their own, filled by seed(), the message boxes and the
// modal dialogs scripted, the main window on that store; and after each test nothing left open,
// unanswered or awaited.
class WindowTest : public QObject {
    Q_OBJECT

protected:
    virtual void seed() {}
    void openWindow() { window_ = std::make_unique<FinderDriver>(**store_, boxes_); }
    SettingsStore& store() const { return **store_; }

    std::optional<TempStore> store_;
    ScriptedMessageBoxes boxes_;
    ModalScript modals_;
    std::unique_ptr<FinderDriver> window_;

protected slots:
    void initTestCase();
    void init();
    void cleanup();
};

} // namespace keyloft::testing
