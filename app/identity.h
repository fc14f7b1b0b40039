#pragma once

#include <QString>

namespace keyloft {

// Where the workstation's computer name and user name come from. Each read throws on failure.
class IdentitySource {
public:
    virtual ~IdentitySource() = default;
    virtual QString computerName() const = 0;
    virtual QString userName() const = 0;
};

// The running system: the computer and user name from the Win32 API on Windows; elsewhere the
// host name and the login name of the user running the program.
class SystemIdentity final : public IdentitySource {
public:
    QString computerName() const override;
    QString userName() const override;
};

// True when both names were read. A failure reading the user name leaves computerName written.
bool GetPcInfo(const IdentitySource& source, QString& computerName, QString& userName);

} // namespace keyloft
