#pragma once

#include <QDialog>
#include <QString>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace keyloft {

class Finder;
class MessageBoxes;
class SettingsStore;
class TreeNode;

// Adds one setting (new mode) or changes the value of one (edit mode). The caller prepares it
// in this order: Let_FormMode_is_New, Let_RegNode, and in edit mode Let_RegKey; then exec().
// The unsaved-input flag is OK's enabled state: every Let_ leaves OK disabled, every change of
// a box's text enables it.
class Edit_Setting final : public QDialog {
    Q_OBJECT

public:
    Edit_Setting(SettingsStore& store, MessageBoxes& boxes, Finder& finder);

    // True: the application, section and key boxes become editable; false: locked.
    void Let_FormMode_is_New(bool LetFormMode_is_New);
    // The node the dialog writes below, and refreshes after a save; fills and locks the boxes
    // the node names.
    void Let_RegNode(TreeNode& LetRegNode);
    // Edit mode: the key, locked, and its stored value, editable.
    void Let_RegKey(const QString& LetRegKey);

public slots:
    // Cancel, Esc and the close box: input not yet saved is discarded only after asking.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A box never set stays as designed: the value box in new mode.
    enum class BoxState { Editable, Locked };

    void Form_Load();
    void ClearInputs();
    bool ValidateInput();
    void cmd_Action_Click(int Index);
    void setState(QLineEdit& box, BoxState state);
    QLineEdit* nextInCycle(const QObject* box) const;

    SettingsStore& store_;
    MessageBoxes& boxes_;
    Finder& finder_;
    TreeNode* regNode = nullptr;

    QLabel* Label1 = nullptr;
    QLineEdit* txt_App = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txt_Section = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txt_Key = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txt_Value = nullptr;
    std::array<QPushButton*, 2> cmd_Action{}; // 0 OK, 1 Cancel

    // An input method's composition: the Enter or Esc that ends it belongs to it alone.
    bool composing_ = false;
    bool justComposed_ = false;
};

} // namespace keyloft
