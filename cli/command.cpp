#include "command.h"

#include "case_fold.h"

#include <cstdint>

namespace keyloft::cli {

std::unique_ptr<Command> listCommand();
std::unique_ptr<Command> getCommand();
std::unique_ptr<Command> setCommand();
std::unique_ptr<Command> deleteCommand();
std::unique_ptr<Command> exportCommand();
std::unique_ptr<Command> importCommand();

std::vector<std::unique_ptr<Command>> allCommands() {
    std::vector<std::unique_ptr<Command>> all;
    all.push_back(listCommand());
    all.push_back(getCommand());
    all.push_back(setCommand());
    all.push_back(deleteCommand());
    all.push_back(exportCommand());
    all.push_back(importCommand());
    return all;
}

Text Command::help() const {
    Text text = u"使い方: keyloft-cli [--prefix PREFIX] ";
    ((text += name()) += u' ') += synopsis();
    ((text += u"\n\n") += summary()) += u"\n\nオプション:\n";
    auto option = [&](const Option& o) {
        Text line = u"  ";
        if (o.letter)
            ((line += u'-') += o.letter) += u", ";
        (line += u"--") += o.name;
        if (!o.value.empty())
            (line += u' ') += o.value;
        if (line.size() < 24)
            line.resize(24, u' ');
        else
            line += u"\n" + Text(24, u' ');
        text += line + Text(o.help) + u'\n';
    };
    for (const Option& o : options())
        option(o);
#ifndef _WIN32
    option({u"prefix", 0, u"PREFIX",
            u"Wine のプレフィックス（フォルダーか、その user.reg）。省略すると $WINEPREFIX、"
            u"それもなければ ~/.wine。"});
#endif
    option({u"json", 0, {}, u"JSON で出力します（UTF-16 の文字をそのまま）。"});
    option({u"null", u'0', {}, u"行の終わりの代わりに NUL で区切ります。"});
    option({u"help", u'h', {}, u"この説明を表示します。"});
    return text;
}

void appendRecordName(Text& out, std::u16string_view application, std::u16string_view section,
                      std::u16string_view key) {
    out += application;
    if (!section.empty())
        (out += u'\\') += section;
    if (!key.empty())
        (out += u'\\') += key;
}

Text recordName(std::u16string_view application, std::u16string_view section,
                std::u16string_view key) {
    Text name;
    appendRecordName(name, application, section, key);
    return name;
}

// ASCII stays, other characters stay too; lone surrogates and control characters as \uXXXX,
// so that the JSON is valid UTF-8 and carries every UTF-16 unit.
Text jsonString(std::u16string_view text) {
    Text out = u"\"";
    constexpr char16_t hex[] = u"0123456789abcdef";
    auto escaped = [&](char16_t c) {
        out += u"\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hex[(c >> shift) & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'"' || c == u'\\') {
            (out += u'\\') += c;
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c == u'\t') {
            out += u"\\t";
        } else if (c < 0x20) {
            escaped(c);
        } else if (c >= 0xd800 && c <= 0xdbff && i + 1 < text.size() && text[i + 1] >= 0xdc00 &&
                   text[i + 1] <= 0xdfff) {
            (out += c) += text[++i];
        } else if (c >= 0xd800 && c <= 0xdfff) {
            escaped(c);
        } else {
            out += c;
        }
    }
    return out += u'"';
}

namespace {

Text find(const std::vector<Text>& names, std::u16string_view name) {
    for (const Text& n : names)
        if (sameName(n, name))
            return n;
    return {};
}

} // namespace

std::optional<Text> nonStringValue(const SettingsStore& store, std::u16string_view application,
                                   std::u16string_view section, std::u16string_view key,
                                   bool deleting) {
    const auto type = store.GetValueType(application, section, key);
    if (!type || isStringType(*type))
        return std::nullopt;
    return nonStringRefusal(*type, application, section, key, deleting);
}

Text nonStringRefusal(std::uint32_t type, std::u16string_view application,
                      std::u16string_view section, std::u16string_view key, bool deleting) {
    return u"キー名称「" + Text(key) + u"」には文字列以外の値（" + registryTypeName(type) +
           (deleting
                ? u"）が登録されています。取り込みは文字列の設定だけを削除するため、削除"
                  u"しません（"
                : u"）が登録されています。上書きすると元の値が失われるため、登録できません（") +
           recordName(application, section, key) + u"）。";
}

Text existingApplication(const SettingsStore& store, std::u16string_view application) {
    Text found = find(store.EnumRegSubKeys(kSettingsBasePath), application);
    if (found.empty())
        throw NotThere{u"アプリケーション「" + Text(application) + u"」はありません。"};
    return found;
}

Text existingSection(const SettingsStore& store, std::u16string_view application,
                     std::u16string_view section) {
    const Text app = existingApplication(store, application);
    Text found = find(store.GetSections(app), section);
    if (found.empty())
        throw NotThere{u"セクション「" + recordName(application, section) + u"」はありません。"};
    return found;
}

} // namespace keyloft::cli
