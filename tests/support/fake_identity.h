#pragma once

#include "identity.h"

#include <optional>
#include <stdexcept>

namespace keyloft::testing {

// An identity with fixed names; a failing read is scripted by leaving a name unset.
class FakeIdentity final : public IdentitySource {
public:
    FakeIdentity(std::optional<QString> computer, std::optional<QString> user)
        : computer_(std::move(computer)), user_(std::move(user)) {}
    QString computerName() const override { return valueOf(computer_); }
    QString userName() const override { return valueOf(user_); }

private:
    static QString valueOf(const std::optional<QString>& name) {
        if (!name)
            throw std::runtime_error("identity not available");
        return *name;
    }
    std::optional<QString> computer_;
    std::optional<QString> user_;
};

} // namespace keyloft::testing
