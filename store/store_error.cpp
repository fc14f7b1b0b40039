#include "store_error.h"

#include "text_codec.h"

#include <algorithm>
#include <string>

namespace keyloft {

StoreError::StoreError(long number, Text description)
    : number_(number), description_(std::move(description)), what_(utf16ToUtf8(description_)) {}

long StoreError::number() const noexcept {
    return number_;
}
const Text& StoreError::description() const noexcept {
    return description_;
}
const char* StoreError::what() const noexcept {
    return what_.c_str();
}

Text applicationKeyPath(std::u16string_view application) {
    Text path(kSettingsBasePath);
    path += u'\\';
    path += application;
    return path;
}

Text sectionKeyPath(std::u16string_view application, std::u16string_view section) {
    Text path = applicationKeyPath(application);
    path += u'\\';
    path += section;
    return path;
}

namespace errors {

namespace {

Text decimal(long n) {
    const std::string s = digits(static_cast<std::uint64_t>(n));
    return Text(s.begin(), s.end());
}

Text quoted(std::u16string_view name) {
    Text t = u"「";
    t += name;
    t += u"」";
    return t;
}

std::u16string_view what(NameKind kind) {
    switch (kind) {
    case NameKind::Application:
        return u"アプリケーション名";
    case NameKind::Section:
        return u"セクション名";
    case NameKind::Key:
        break;
    }
    return u"キー名称";
}

std::u16string_view item(NameKind kind) {
    switch (kind) {
    case NameKind::Application:
        return u"アプリケーション";
    case NameKind::Section:
        return u"セクション";
    case NameKind::Key:
        break;
    }
    return u"キー";
}

} // namespace

StoreError notFound(NameKind kind, std::u16string_view name) {
    return {kNotFound, Text(u"削除しようとした") + Text(item(kind)) + quoted(name) +
                           u"が見つかりません。ほかのプログラムが削除した可能性があります。"};
}

StoreError emptyName(NameKind kind) {
    return {kEmptyName, Text(what(kind)) + u"が空です。"};
}

StoreError backslashInName(NameKind kind) {
    return {kBackslashInName, Text(what(kind)) + u"に「\\」は使えません。"};
}

StoreError nameTooLong(NameKind kind) {
    const auto limit = kind == NameKind::Key ? kMaxValueNameLength : kMaxKeyNameLength;
    return {kNameTooLong, Text(what(kind)) + u"が長すぎます（" + decimal(static_cast<long>(limit)) +
                              u" 文字まで）。"};
}

StoreError emptyStep(NameKind kind) {
    return {kBackslashInName,
            Text(what(kind)) + u"に空の階層があります（「\\」の前後には名前が要ります）。"};
}

StoreError nulInName(NameKind kind) {
    return {kNulInName, Text(what(kind)) + u"に NUL 文字は使えません。"};
}

StoreError serverRunning(std::u16string_view prefix) {
    return {kServerRunning,
            u"Wine のプレフィックス" + quoted(prefix) +
                u"で wineserver が動作中のため、変更できません（いま書き込んでも wineserver に"
                u"上書きされます）。Wine のプログラムをすべて終了するか「wineserver -k」を実行して"
                u"から、やり直してください。"};
}

StoreError serverUnreachable(std::u16string_view prefix, std::u16string_view reason) {
    return {
        kServerRunning,
        u"Wine のプレフィックス" + quoted(prefix) +
            u"で wineserver が動作中ですが、その wineserver を通して変更できません（" +
            Text(reason) +
            u"）。いま書き込んでも wineserver に上書きされるため、変更しません。Wine のプログラム"
            u"をすべて終了するか「wineserver -k」を実行してから、やり直してください。"};
}

StoreError serverHidden(std::u16string_view prefix, long pid) {
    return {
        kServerRunning,
        u"Wine のプレフィックス" + quoted(prefix) +
            u"で、Keyloft からつなげない wineserver（プロセス " + decimal(pid) +
            u"。サンドボックスの中の Wine など）が動作中のため、変更できません（いま書き込んでも"
            u" wineserver に上書きされます）。そのプレフィックスの Wine のプログラムをすべて終了"
            u"してから、やり直してください。"};
}

StoreError bridgeFailed(std::u16string_view prefix, std::u16string_view reason) {
    return {kBridgeFailed, u"Wine のプレフィックス" + quoted(prefix) +
                               u"の wineserver を通した操作が終わりませんでした（" + Text(reason) +
                               u"）。変更されたかどうかは、再読込（F5）で確かめてください。"};
}

StoreError unparsable(std::u16string_view file, long line, std::u16string_view reason) {
    return {kUnparsable, u"レジストリファイル" + quoted(file) + u"の " + decimal(line) +
                             u" 行目を解釈できないため、変更できません: " + Text(reason)};
}

StoreError readFailed(std::u16string_view file, std::u16string_view reason) {
    return {kReadFailed,
            u"レジストリファイル" + quoted(file) + u"を読み込めません: " + Text(reason)};
}

StoreError writeFailed(std::u16string_view file, std::u16string_view reason) {
    return {kWriteFailed,
            u"レジストリファイル" + quoted(file) + u"に書き込めません: " + Text(reason)};
}

StoreError lockFailed(std::u16string_view file, std::u16string_view reason) {
    return {kLockFailed,
            u"レジストリファイル" + quoted(file) + u"をロックできません: " + Text(reason)};
}

StoreError registryFailed(std::u16string_view operation, std::u16string_view keyPath, long code,
                          std::u16string_view reason) {
    Text d = u"レジストリの操作に失敗しました（" + Text(operation) + quoted(keyPath) +
             u"、エラー " + decimal(code);
    if (!reason.empty())
        d += u": " + Text(reason);
    d += u"）。";
    return {kRegistryFailed, d};
}

namespace {

void checkKeyComponent(std::u16string_view name, NameKind kind) {
    if (name.empty())
        throw emptyName(kind);
    if (name.find(u'\\') != std::u16string_view::npos)
        throw backslashInName(kind);
    if (name.size() > kMaxKeyNameLength)
        throw nameTooLong(kind);
    if (name.find(u'\0') != std::u16string_view::npos)
        throw nulInName(kind);
}

} // namespace

void checkApplicationName(std::u16string_view application) {
    checkKeyComponent(application, NameKind::Application);
}

// A path of keys, as the runtime's SaveSetting takes it: "Engines\\Jet" is the key Jet below
// Engines.
void checkSectionName(std::u16string_view section) {
    if (section.empty())
        throw emptyName(NameKind::Section);
    for (std::size_t from = 0;;) {
        const std::size_t to = std::min(section.find(u'\\', from), section.size());
        if (to == from)
            throw emptyStep(NameKind::Section);
        checkKeyComponent(section.substr(from, to - from), NameKind::Section);
        if (to == section.size())
            return;
        from = to + 1;
    }
}

void checkKeyName(std::u16string_view key) {
    if (key.empty())
        throw emptyName(NameKind::Key);
    if (key.size() > kMaxValueNameLength)
        throw nameTooLong(NameKind::Key);
    if (key.find(u'\0') != std::u16string_view::npos)
        throw nulInName(NameKind::Key);
}

} // namespace errors
} // namespace keyloft
