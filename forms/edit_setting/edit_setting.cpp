#include "edit_setting.h"

#include "finder.h"
#include "message_boxes.h"
#include "node_level.h"
#include "program_info.h"
#include "resource_images.h"
#include "settings_store.h"
#include "store_text.h"
#include "tree_view.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QValidator>

#include <algorithm>
#include <limits>

namespace keyloft {

using namespace Qt::StringLiterals;

namespace {

constexpr int kOK = 0;
constexpr int kCancel = 1;

// Japanese users type both the ASCII and the ideographic space around names.
bool isTrimmedSpace(QChar c) {
    return c == u' ' || c == u'\u3000';
}

QString trimmed(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmedSpace(text[begin]))
        ++begin;
    while (end > begin && isTrimmedSpace(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

// A name is one line. Of a paste only the first line is kept, as the platform's single-line boxes
// do; a locked box holds a name as stored and is left alone.
class OneLine final : public QValidator {
public:
    explicit OneLine(QLineEdit& box) : QValidator(&box), box_(box) {}

    State validate(QString& input, int& pos) const override {
        const auto isBreak = [](QChar c) { return c == u'\r' || c == u'\n'; };
        const auto first = std::find_if(input.cbegin(), input.cend(), isBreak);
        if (box_.isReadOnly() || first == input.cend())
            return Acceptable;
        // The text had no break before, so everything from the first break up to the cursor
        // (where the paste ended) came with the paste.
        const qsizetype from = first - input.cbegin();
        const qsizetype afterLast =
            std::find_if(input.crbegin(), input.crend(), isBreak).base() - input.cbegin();
        input.remove(from, std::max<qsizetype>(pos, afterLast) - from);
        pos = static_cast<int>(from);
        return Acceptable;
    }

private:
    const QLineEdit& box_;
};

void place(QWidget& widget, int left, int top, int width, int height) {
    widget.setGeometry(twips(left), twips(top), twips(width), twips(height));
}

} // namespace

Edit_Setting::Edit_Setting(SettingsStore& store, MessageBoxes& boxes, Finder& finder)
    : QDialog(&finder), store_(store), boxes_(boxes), finder_(finder) {
    Form_Load();
}

void Edit_Setting::Form_Load() {
    setWindowTitle(u"値の操作"_s);
    setWindowIcon(imageIcon(u"edit_setting"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips(7395), twips(3315));

    // Created in the focus order, so that the application box has the focus when shown.
    const auto box = [this](const QString& name, int top) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        // Qt's default cap of 32,767 would cut a longer stored value, and OK would write it cut.
        edit->setMaxLength(std::numeric_limits<int>::max());
        place(*edit, 60, top, 7275, 315);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] { cmd_Action[kOK]->setEnabled(true); });
        return edit;
    };
    txt_App = box(u"txt_App"_s, 300);
    txt_Section = box(u"txt_Section"_s, 1020);
    txt_Key = box(u"txt_Key"_s, 1740);
    txt_Value = box(u"txt_Value"_s, 2460);
    for (QLineEdit* name : {txt_App, txt_Section, txt_Key})
        name->setValidator(new OneLine(*name));

    const auto button = [this](int index, const QString& caption, int left) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(u"cmd_Action_%1"_s.arg(index));
        b->setAutoDefault(false); // Enter moves between the boxes; it never presses a button
        place(*b, left, 2940, 1275, 315);
        connect(b, &QPushButton::clicked, this, [this, index] { cmd_Action_Click(index); });
        return b;
    };
    cmd_Action[kOK] = button(kOK, u"OK"_s, 4680);
    cmd_Action[kCancel] = button(kCancel, u"ｷｬﾝｾﾙ"_s, 6060);

    const auto label = [this](const QString& name, const QString& caption, QLineEdit* buddy,
                              int top, int width) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setBuddy(buddy);
        // Where the font needs more room than designed, the label grows from its place.
        place(*l, 60, top, width, 180);
        l->resize(l->size().expandedTo(l->sizeHint()));
        return l;
    };
    Label1 = label(u"Label1"_s, u"アプリケーション"_s, txt_App, 60, 1245);
    Label2 = label(u"Label2"_s, u"セクション"_s, txt_Section, 780, 750);
    Label4 = label(u"Label4"_s, u"キー名称"_s, txt_Key, 1500, 720);
    Label3 = label(u"Label3"_s, u"設定値"_s, txt_Value, 2220, 540);

    ClearInputs();
}

void Edit_Setting::ClearInputs() {
    for (QLineEdit* box : {txt_App, txt_Section, txt_Key, txt_Value})
        box->clear();
    cmd_Action[kOK]->setEnabled(false);
}

void Edit_Setting::Let_FormMode_is_New(bool LetFormMode_is_New) {
    for (QLineEdit* box : {txt_App, txt_Section, txt_Key})
        setState(*box, LetFormMode_is_New ? BoxState::Editable : BoxState::Locked);
}

void Edit_Setting::Let_RegNode(TreeNode& LetRegNode) {
    regNode = &LetRegNode;
    // Locked before it is filled, so that a stored name keeps its line breaks.
    const auto fill = [this](QLineEdit& box, const QString& text, BoxState state) {
        setState(box, state);
        box.setText(text);
    };
    switch (NodeLevel(LetRegNode)) {
    case 1:
        fill(*txt_App, {}, BoxState::Editable);
        fill(*txt_Section, {}, BoxState::Editable);
        break;
    case 2:
        fill(*txt_App, LetRegNode.Text(), BoxState::Locked);
        fill(*txt_Section, {}, BoxState::Editable);
        break;
    case 3:
        fill(*txt_App, LetRegNode.Parent()->Text(), BoxState::Locked);
        fill(*txt_Section, LetRegNode.Text(), BoxState::Locked);
        break;
    default:
        break;
    }
    cmd_Action[kOK]->setEnabled(false);
}

void Edit_Setting::Let_RegKey(const QString& LetRegKey) {
    setState(*txt_Key, BoxState::Locked);
    txt_Key->setText(LetRegKey);
    txt_Value->setText(fromStore(store_.GetSetting(
        toStore(txt_App->text()), toStore(txt_Section->text()), toStore(txt_Key->text()))));
    setState(*txt_Value, BoxState::Editable);
    cmd_Action[kOK]->setEnabled(false);
}

void Edit_Setting::setState(QLineEdit& box, BoxState state) {
    box.setReadOnly(state == BoxState::Locked);
    QPalette p = box.palette();
    p.setColor(QPalette::Base, state == BoxState::Locked
                                   ? QApplication::palette().color(QPalette::Button)
                                   : QColor(0xFF, 0xFF, 0xFF));
    box.setPalette(p);
}

bool Edit_Setting::ValidateInput() {
    // A locked box holds a name as it is stored: trimmed, it would name another key, and the
    // value would land there. Only what the user typed is trimmed.
    const auto checked = [this](QLineEdit* box, const QString& message) {
        if (!box->isReadOnly())
            box->setText(trimmed(box->text()));
        if (!box->text().isEmpty())
            return true;
        boxes_.show(this, message, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok);
        box->setFocus();
        return false;
    };
    if (!checked(txt_App, u"アプリケーションの入力は省略できません。"_s) ||
        !checked(txt_Section, u"セクションの入力は省略できません。"_s) ||
        !checked(txt_Key, u"キー名称の入力は省略できません。"_s))
        return false;
    txt_Value->setText(trimmed(txt_Value->text()));
    return true;
}

void Edit_Setting::cmd_Action_Click(int Index) {
    if (Index == kCancel) {
        reject();
        return;
    }
    if (!ValidateInput())
        return;
    // The list shows string values (REG_SZ, REG_EXPAND_SZ) only: a value of another type under
    // the name, which the registry compares regardless of case, the user has not seen, and the
    // write would replace it.
    const auto type = store_.GetValueType(toStore(txt_App->text()), toStore(txt_Section->text()),
                                          toStore(txt_Key->text()));
    if (type && !isStringType(*type)) {
        boxes_.show(this,
                    u"キー名称「%1」には文字列以外の値（%2）が登録されています。\r\n"
                    u"上書きすると元の値が失われるため、登録できません。"_s.arg(
                        txt_Key->text(), fromStore(registryTypeName(*type))),
                    QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok);
        txt_Key->setFocus();
        return;
    }
    if (boxes_.show(this, u"入力した情報で登録します。よろしいですか？"_s, QMessageBox::Question,
                    QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) != QMessageBox::Ok)
        return;
    try {
        store_.SaveSetting(toStore(txt_App->text()), toStore(txt_Section->text()),
                           toStore(txt_Key->text()), toStore(txt_Value->text()));
    } catch (const StoreError& e) {
        boxes_.show(this,
                    u"データの更新時にエラーが発生しました。\r\n\r\n"_s +
                        QString::number(e.number()) + u"\r\n"_s + fromStore(e.description()),
                    QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok);
        return;
    }
    cmd_Action[kOK]->setEnabled(false);
    finder_.tview_01_NodeClick(*regNode);
}

void Edit_Setting::reject() {
    if (cmd_Action[kOK]->isEnabled() &&
        boxes_.show(this, u"入力を破棄して画面を閉じてよろしいですか？"_s, QMessageBox::Question,
                    QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) != QMessageBox::Ok)
        return;
    composing_ = justComposed_ = false;
    QDialog::reject();
}

QLineEdit* Edit_Setting::nextInCycle(const QObject* box) const {
    if (box == txt_App)
        return txt_Section;
    if (box == txt_Section)
        return txt_Key;
    if (box == txt_Key)
        return txt_Value;
    return txt_App;
}

bool Edit_Setting::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::InputMethod) {
        const bool wasComposing = composing_;
        composing_ = !static_cast<QInputMethodEvent*>(event)->preeditString().isEmpty();
        if (wasComposing && !composing_) {
            // Some platforms deliver the confirming key right after the composed text.
            justComposed_ = true;
            QTimer::singleShot(0, this, [this] { justComposed_ = false; });
        }
    } else if (event->type() == QEvent::FocusOut) {
        // An input method may drop a composition without a word when the box loses the focus.
        composing_ = justComposed_ = false;
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if ((enter || key == Qt::Key_Escape) && (composing_ || justComposed_))
            return true;
        if (enter) {
            nextInCycle(watched)->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace keyloft
