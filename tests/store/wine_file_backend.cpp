#include "store_backend.h"
#include "temp_prefix.h"
#include "wine_reg_file.h"

#include <filesystem>
#include <list>

namespace keyloft::testing {

namespace {

// Every fresh store gets a prefix of its own that does not exist yet; other programs' values are
// planted by editing its user.reg directly.
class WineFileBackend final : public StoreBackend {
public:
    std::string name() const override { return "WinePrefixFile"; }

    std::unique_ptr<SettingsStore> freshStore() override {
        dirs_.emplace_back();
        prefix_ = dirs_.back().path() / "pfx";
        return openWinePrefixStore(prefix_);
    }

    void plantValue(std::u16string_view application, std::u16string_view section,
                    std::u16string_view name, std::uint32_t type,
                    const std::vector<std::uint8_t>& data) override {
        edit([&](wine::RegFile& reg) {
            reg.setValue(pathTo({Text(application), Text(section)}), name, type, data,
                         wine::fileTimeNow());
        });
    }

    void plantKey(const std::vector<Text>& pathBelowBase) override {
        edit(
            [&](wine::RegFile& reg) { reg.createKey(pathTo(pathBelowBase), wine::fileTimeNow()); });
    }

private:
    static std::vector<Text> pathTo(const std::vector<Text>& below) {
        std::vector<Text> path{u"Software", u"VB and VBA Program Settings"};
        path.insert(path.end(), below.begin(), below.end());
        return path;
    }

    template <class F> void edit(F change) {
        std::filesystem::create_directories(prefix_);
        const auto file = prefix_ / "user.reg";
        wine::RegFile reg =
            std::filesystem::exists(file) ? wine::RegFile::parse(readFile(file)) : wine::RegFile();
        change(reg);
        writeFile(file, reg.text());
    }

    std::list<TempDir> dirs_;
    std::filesystem::path prefix_;
};

} // namespace

std::vector<std::shared_ptr<StoreBackend>> storeBackends() {
    return {std::make_shared<WineFileBackend>()};
}

} // namespace keyloft::testing
