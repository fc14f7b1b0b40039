#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_reg_file.h"

#include <list>

namespace keyloft::testing {
namespace {

// Every fresh store gets a prefix of its own that does not exist yet; other programs' values are
// planted by editing its user.reg directly.
class WineFileBackend final : public StoreBackend {
public:
    std::string name() const override { return "WinePrefixFile"; }
    std::unique_ptr<SettingsStore> freshStore() override { return prefixes_.emplace_back().open(); }
    std::unique_ptr<SettingsStore> sameStore() override { return prefixes_.back().open(); }

    void plantValue(std::u16string_view application, std::u16string_view section,
                    std::u16string_view name, std::uint32_t type,
                    const std::vector<std::uint8_t>& data) override {
        edit([&](wine::RegFile& reg, std::vector<Text> path) {
            path.insert(path.end(), {Text(application), Text(section)});
            reg.setValue(path, name, type, data, wine::fileTimeNow());
        });
    }
    void plantKey(const std::vector<Text>& below) override {
        edit([&](wine::RegFile& reg, std::vector<Text> path) {
            path.insert(path.end(), below.begin(), below.end());
            reg.createKey(path, wine::fileTimeNow());
        });
    }

private:
    template <class F> void edit(F change) {
        const TempPrefix& p = prefixes_.back();
        wine::RegFile reg = std::filesystem::exists(p.file())
                                ? wine::RegFile::load(readFile(p.file()))
                                : wine::RegFile();
        change(reg, std::vector<Text>{u"Software", u"VB and VBA Program Settings"});
        p.put(reg.text());
    }

    std::list<TempPrefix> prefixes_;
};

} // namespace

std::vector<std::shared_ptr<StoreBackend>> storeBackends() {
    return {std::make_shared<WineFileBackend>()};
}

} // namespace keyloft::testing
