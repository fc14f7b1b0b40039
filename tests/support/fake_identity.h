#pragma once

#include "identity.h"

#include <optional>

namespace keyloft::testing {

// An identity with fixed names; a failing read is scripted by leaving a name unset.
class FakeIdentity final : public IdentitySource {
public:
    FakeIdentity(std::optional<QString> computer, std::optional<QString> user)
        : computer_(std::move(computer)), user_(std::move(user)) {}
    QString computerName() const override { return computer_.value(); }
    QString userName() const override { return user_.value(); }

private:
    std::optional<QString> computer_; // std::bad_optional_access when unset
    std::optional<QString> user_;
};

} // namespace keyloft::testing
