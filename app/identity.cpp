#include "identity.h"

#include <stdexcept>

#ifdef _WIN32
#include <lmcons.h>
#include <windows.h>
#else
#include <climits>
#include <pwd.h>
#include <unistd.h>
#include <vector>
#endif

namespace keyloft {

#ifdef _WIN32

QString SystemIdentity::computerName() const {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        throw std::runtime_error("GetComputerNameW failed");
    return QString::fromWCharArray(name, static_cast<qsizetype>(size));
}

QString SystemIdentity::userName() const {
    wchar_t name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (!GetUserNameW(name, &size))
        throw std::runtime_error("GetUserNameW failed");
    return QString::fromWCharArray(name); // size counts the terminating NUL
}

#else

QString SystemIdentity::computerName() const {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        throw std::runtime_error("gethostname failed");
    return QString::fromLocal8Bit(name);
}

QString SystemIdentity::userName() const {
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        throw std::runtime_error("no user name for this uid");
    return QString::fromLocal8Bit(found->pw_name);
}

#endif

bool GetPcInfo(const IdentitySource& source, QString& computerName, QString& userName) {
    try {
        computerName = source.computerName();
        userName = source.userName();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace keyloft
