#pragma once

#include "settings_store.h"

#include <string>
#include <string_view>
#include <vector>

// The .reg files of regedit, limited to the Visual Basic settings: written as Windows' regedit
// writes them, read in the forms both Windows' and Wine's regedit write.
namespace keyloft::reg {

// One section and its settings, or an application's bare key when `section` is empty.
struct Key {
    Text application;
    Text section;
    std::vector<Setting> settings;
};

// "Windows Registry Editor Version 5.00", UTF-16LE with a BOM and CRLF. With `base`, the settings'
// own key heads the file, as regedit writes it for an export of the whole key.
std::string exportFile(const std::vector<Key>& keys, bool base);

// A line the import refuses, numbered from 1, with the reason in Japanese.
struct Refusal {
    long line;
    Text reason;
};

struct Import {
    std::vector<Change> changes; // in the file's order
    std::vector<long> lines;     // the line of each change
    std::vector<Refusal> refusals;
};

// The changes a .reg file makes, or when it reaches anything but the settings' keys and their
// string values, every line that does. A file of neither regedit format is one refusal of line 1.
// A REGEDIT4 file is in `codePage` ("932", "CP932", or on Linux any name iconv knows).
Import importFile(std::string_view bytes, std::string_view codePage = "CP932");

} // namespace keyloft::reg
