#pragma once

// A data set both backends must store and list alike, and a plain-text picture of a whole
// settings area to compare across processes (the registry side runs under Wine).

#include "settings_store.h"
#include "text_codec.h"

#include <array>
#include <string>
#include <vector>

namespace keyloft::agreement {

using Row = std::array<Text, 4>; // application, section, key, value

// What both backends list after write(): Wine's order (names compared unit by unit after
// lowercasing, a prefix first), the first spelling of every name, the last value written.
inline std::vector<Row> expected() {
    using namespace std::string_literals;
    return {
        {u"App", u"Sec [x]", u"@", u"not the default"},
        {u"App", u"Sec [x]", u"[Key]", u"]"},
        {u"App", u"Sec [x]", u"Dir\\Sub", u"x"},
        {u"App", u"Window", u" spaced = key ", u"  padded  "},
        {u"App", u"Window", u"café1", u"é z"},
        {u"App", u"Window", u"Control",
         u"\x01"
         u"7\x1b[0m"},
        {u"App", u"Window", u"Emoji", u"😀 and 𠮷野家"},
        {u"App", u"Window", u"Empty", u""},
        {u"App", u"Window", u"Lines", u"one\r\ntwo\nthree"},
        {u"App", u"Window", u"Nul", u"a\0b"s},
        {u"App", u"Window", u"Quote", u"say \"hi\""},
        {u"App", u"Window", u"Tab", u"a\tb"},
        {u"App", u"Ωmega", u"a", u"1"},
        {u"App", u"Ωmega", u"B", u"2"},
        {u"App", u"Ωmega", u"c", u"3"},
        {u"App [1]", u"S", u"k", u"1"},
        {u"app b", u"s", u"K", u"b"},
        {u"App_x", u"L" + Text(254, u'é'), u"k", Text(40000, u'7')},
        {u"MyApp", u"Engines\\Jet", u"SystemDB", u"C:\\system.mdw"},
        {u"MyApp", u"Engines\\Jet\\4.0", u"Threads", u"3"},
        {u"MyApp", u"Engines\\Jet2", u"k", u"after Jet's own sections"},
        {u"Äpfel", u"Obst", u"Sorte", u"Boskoop"},
        {u"Äpfel", u"Obst", u"ÄRA", u"ä"},
        {u"日本語アプリ", u"設定", u"キー", u"値"},
        {u"😀 Emoji", u"𠮷", u"😀", u"🎉"},
    };
}

// The same name with its letters' case swapped (ASCII, Latin-1, Greek).
inline Text respelled(Text name) {
    for (char16_t& c : name) {
        const auto in = [c](int first, int last, int gap) {
            return c >= first && c <= last && c != gap;
        };
        if (in(u'A', u'Z', 0) || in(0xC0, 0xDE, 0xD7) || in(0x391, 0x3A9, 0x3A2))
            c += 0x20;
        else if (in(u'a', u'z', 0) || in(0xE0, 0xFE, 0xF7) || in(0x3B1, 0x3C9, 0x3C2))
            c -= 0x20;
    }
    return name;
}

// Writes expected() back to front with placeholder values, and two keys more that one batch
// deletes again; then every setting again under respelled names with its real value: order,
// spelling and value all have to come from the store, not from the order of the calls.
inline void write(SettingsStore& store) {
    for (const Text& application : store.EnumRegSubKeys(kSettingsBasePath))
        store.DeleteSetting(application);
    const std::vector<Row> rows = expected();
    for (auto r = rows.rbegin(); r != rows.rend(); ++r)
        store.SaveSetting((*r)[0], (*r)[1], (*r)[2], u"placeholder");
    for (const char16_t* key : {u"Gone 1", u"Gone 2"})
        store.SaveSetting(u"App", u"Window", key, u"deleted in one batch");
    store.DeleteSettings(u"APP", u"window", {u"gone 1", u"GONE 2"});
    for (const Row& r : rows)
        store.SaveSetting(respelled(r[0]), respelled(r[1]), respelled(r[2]), r[3]);
}

// The whole area as the main window walks it; a GetSetting that disagrees with GetAllSettings
// shows as such.
inline std::vector<Row> read(const SettingsStore& store) {
    std::vector<Row> rows;
    for (const Text& a : store.EnumRegSubKeys(kSettingsBasePath))
        for (const Text& s : store.GetSections(a))
            for (const Setting& k : store.GetAllSettings(a, s))
                rows.push_back(
                    {a, s, k.key,
                     store.GetSetting(a, s, k.key) == k.value ? k.value : u"(GetSetting differs)"});
    return rows;
}

// One line per setting, so that a mismatch reads as a diff.
inline std::string dump(const std::vector<Row>& rows) {
    std::string out;
    for (const Row& r : rows)
        out += utf16ToUtf8(r[0] + u" | " + r[1] + u" | " + r[2] + u" = " + r[3]) + "\n";
    return out;
}

} // namespace keyloft::agreement
