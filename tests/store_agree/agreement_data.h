#pragma once

// A data set both backends must store and list alike, and a plain-text picture of a whole
// settings area to compare across processes (the registry side runs under Wine).

#include "settings_store.h"

#include <cstdio>
#include <string>
#include <vector>

namespace keyloft::agreement {

struct Section {
    Text name;
    std::vector<Setting> settings;
};
struct Application {
    Text name;
    std::vector<Section> sections;
};
using Area = std::vector<Application>;

// What both backends list after write(): Wine's order (names compared unit by unit after
// lowercasing, a prefix first), the first spelling of every name, the last value written.
inline Area expected() {
    using namespace std::string_literals;
    return {
        {u"App",
         {{u"Sec [x]", {{u"@", u"not the default"}, {u"[Key]", u"]"}, {u"Dir\\Sub", u"x"}}},
          {u"Window",
           {{u" spaced = key ", u"  padded  "},
            {u"café1", u"é z"},
            {u"Control", u"\x01"
                         u"7\x1b[0m"},
            {u"Emoji", u"😀 and 𠮷野家"},
            {u"Empty", u""},
            {u"Lines", u"one\r\ntwo\nthree"},
            {u"Nul", u"a\0b"s},
            {u"Path", u"C:\\Program Files\\Keyloft\\"},
            {u"Quote", u"say \"hi\""},
            {u"Tab", u"a\tb"},
            {u"Title", u"テスト 日本語"}}},
          {u"Ωmega", {{u"a", u"1"}, {u"B", u"2"}, {u"c", u"3"}}}}},
        {u"App [1]", {{u"S", {{u"k", u"1"}}}}},
        {u"app b", {{u"s", {{u"K", u"b"}}}}},
        {u"App_x", {{u"L" + Text(254, u'é'), {{u"k", Text(1000, u'7')}}}}},
        {u"Äpfel", {{u"Obst", {{u"Sorte", u"Boskoop"}, {u"ÄRA", u"ä"}}}}},
        {u"日本語アプリ", {{u"設定", {{u"キー", u"値"}}}}},
        {u"😀 Emoji", {{u"𠮷", {{u"😀", u"🎉"}}}}},
    };
}

// The same name with its letters' case swapped (ASCII, Latin-1, Greek).
inline Text respelled(Text name) {
    for (char16_t& c : name) {
        const auto in = [c](char16_t first, char16_t last, char16_t not_) {
            return c >= first && c <= last && c != not_;
        };
        if (in(u'A', u'Z', 0) || in(0xC0, 0xDE, 0xD7) || in(0x391, 0x3A9, 0x3A2))
            c += 0x20;
        else if (in(u'a', u'z', 0) || in(0xE0, 0xFE, 0xF7) || in(0x3B1, 0x3C9, 0x3C2))
            c -= 0x20;
    }
    return name;
}

// Writes expected() back to front with placeholder values, then every setting again under
// respelled names with its real value: order, spelling and value all have to come from the
// store, not from the order of the calls.
inline void write(SettingsStore& store) {
    for (const Text& application : store.EnumRegSubKeys(kSettingsBasePath))
        store.DeleteSetting(application);
    const Area area = expected();
    for (auto a = area.rbegin(); a != area.rend(); ++a)
        for (auto s = a->sections.rbegin(); s != a->sections.rend(); ++s)
            for (auto k = s->settings.rbegin(); k != s->settings.rend(); ++k)
                store.SaveSetting(a->name, s->name, k->key, u"placeholder");
    for (const Application& a : area)
        for (const Section& s : a.sections)
            for (const Setting& k : s.settings)
                store.SaveSetting(respelled(a.name), respelled(s.name), respelled(k.key), k.value);
}

// The whole area as the main window walks it. A GetSetting that disagrees with GetAllSettings
// shows up as an extra row.
inline Area read(const SettingsStore& store) {
    Area area;
    for (const Text& application : store.EnumRegSubKeys(kSettingsBasePath)) {
        Application& a = area.emplace_back(Application{application, {}});
        for (const Text& section : store.EnumRegSubKeys(applicationKeyPath(application))) {
            Section& s = a.sections.emplace_back(Section{section, {}});
            for (const Setting& setting : store.GetAllSettings(application, section)) {
                s.settings.push_back(setting);
                if (const Text one = store.GetSetting(application, section, setting.key);
                    one != setting.value)
                    s.settings.push_back({setting.key + u" (GetSetting)", one});
            }
        }
    }
    return area;
}

// ASCII, one line per item, so that a mismatch reads as a diff.
inline std::string dump(const Area& area) {
    const auto quoted = [](const Text& text) {
        std::string out = "\"";
        for (const char16_t c : text) {
            char unit[8];
            const bool plain = c >= 0x20 && c < 0x7F && c != u'\\' && c != u'"';
            std::snprintf(unit, sizeof unit, plain ? "%c" : "\\u%04x", static_cast<int>(c));
            out += unit;
        }
        return out + "\"";
    };
    std::string out;
    for (const Application& a : area) {
        out += "application " + quoted(a.name) + "\n";
        for (const Section& s : a.sections) {
            out += "  section " + quoted(s.name) + "\n";
            for (const Setting& k : s.settings)
                out += "    " + quoted(k.key) + " = " + quoted(k.value) + "\n";
        }
    }
    return out;
}

} // namespace keyloft::agreement
