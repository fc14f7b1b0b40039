#include "run.h"

#include "store_error.h"
#include "text_codec.h"

#include <cstdint>

namespace keyloft::cli {

namespace {

std::vector<Option> globalOptions() {
    return {
#ifndef _WIN32
        {u"prefix", 0, u"PREFIX", {}},
#endif
        {u"json", 0, {}, {}},          {u"null", u'0', {}, {}},
        {u"help", u'h', {}, {}},       {u"version", 0, {}, {}},
    };
}

Text generalHelp(const std::vector<std::unique_ptr<Command>>& commands) {
    Text text = u"使い方: keyloft-cli [--prefix PREFIX] [--json] [--null] COMMAND [引数…]\n\n"
                u"Visual Basic のプログラムが GetSetting/SaveSetting で保存した設定を読み書き"
                u"します。\n\nコマンド:\n";
    for (const auto& c : commands) {
        Text line = u"  " + Text(c->name());
        line.resize(12, u' ');
        text += line + Text(c->summary()) + u'\n';
    }
    text += u"\n各コマンドの説明: keyloft-cli COMMAND --help\n"
            u"終了ステータス: 0 完了、1 設定・セクション・アプリケーションがない、"
            u"2 使い方の誤り、3 ストアが拒否したか失敗した\n";
    return text;
}

const Option* findOption(const std::vector<Option>& options, std::u16string_view name,
                         char16_t letter) {
    for (const Option& o : options)
        if (letter ? o.letter == letter : o.name == name)
            return &o;
    return nullptr;
}

} // namespace

int run(const std::vector<Text>& arguments, Io& io, const StoreOpener& open) {
    const auto commands = allCommands();
    const Command* command = nullptr;
    try {
        Arguments args;
        std::vector<Option> known = globalOptions();
        bool optionsEnd = false;
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const Text& a = arguments[i];
            if (!optionsEnd && a == u"--") {
                optionsEnd = true;
                continue;
            }
            if (optionsEnd || a.size() < 2 || a[0] != u'-') {
                if (command) {
                    args.positional.push_back(a);
                    continue;
                }
                for (const auto& c : commands)
                    if (c->name() == a)
                        command = c.get();
                if (!command)
                    throw UsageError{u"不明なコマンドです: " + a};
                for (const Option& o : command->options())
                    known.push_back(o);
                continue;
            }
            const bool isLong = a[1] == u'-';
            const std::size_t equals = isLong ? a.find(u'=') : Text::npos;
            const std::u16string_view name =
                isLong ? std::u16string_view(a).substr(2, equals == Text::npos ? Text::npos
                                                                               : equals - 2)
                       : std::u16string_view();
            const Option* option = findOption(known, name, isLong ? 0 : a[1]);
            if (!option)
                throw UsageError{u"不明なオプションです: " + a};
            std::optional<Text> inline_;
            if (equals != Text::npos)
                inline_ = a.substr(equals + 1);
            else if (!isLong && a.size() > 2)
                inline_ = a.substr(2);
            if (option->value.empty()) {
                if (inline_)
                    throw UsageError{u"「--" + Text(option->name) + u"」は値を取りません。"};
                args.options[Text(option->name)];
            } else if (inline_) {
                args.options[Text(option->name)] = *inline_;
            } else if (i + 1 < arguments.size()) {
                args.options[Text(option->name)] = arguments[++i];
            } else {
                throw UsageError{u"「--" + Text(option->name) + u"」には " + Text(option->value) +
                                 u" が要ります。"};
            }
        }

        if (args.has(u"help")) {
            io.out(command ? command->help() : generalHelp(commands));
            return kDone;
        }
        if (args.has(u"version")) {
            io.out(u"keyloft-cli " + utf8ToUtf16(KEYLOFT_VERSION) + u'\n');
            return kDone;
        }
        if (!command)
            throw UsageError{u"コマンドがありません。"};
        const std::size_t n = args.positional.size();
        if (n < command->minArguments() || n > command->maxArguments())
            throw UsageError{u"引数の数が違います。使い方: keyloft-cli " + Text(command->name()) +
                             u' ' + Text(command->synopsis())};

        std::filesystem::path prefix;
        if (const Text* given = args.value(u"prefix")) {
            const std::string path = utf16ToUtf8(*given);
            auto found = path.empty() ? std::nullopt : winePrefixOf(path);
            if (!found)
                throw UsageError{u"「" + *given +
                                 u"」は Wine のプレフィックスではありません（user.reg のある"
                                 u"フォルダーか、その user.reg を指定してください）。"};
            prefix = std::move(*found);
        }
        const std::unique_ptr<SettingsStore> store = open(prefix);
        store->CheckReadable();
        Context context{*store, io, args.has(u"json"), args.has(u"null")};
        return command->run(args, context);
    } catch (const UsageError& e) {
        io.err(u"keyloft-cli: " + e.message + u"\n詳しくは「keyloft-cli " +
               (command ? Text(command->name()) + u' ' : Text()) +
               u"--help」を参照してください。\n");
        return kUsage;
    } catch (const NotThere& e) {
        io.err(u"keyloft-cli: " + e.message + u'\n');
        return kNotThere;
    } catch (const Refused& e) {
        io.err(u"keyloft-cli: " + e.message + u'\n');
        return kStoreFailed;
    } catch (const StoreError& e) {
        io.err(u"keyloft-cli: エラー " +
               utf8ToUtf16(digits(static_cast<std::uint64_t>(e.number()))) + u": " +
               e.description() + u'\n');
        return e.number() == errors::kNotFound ? kNotThere : kStoreFailed;
    }
}

} // namespace keyloft::cli
