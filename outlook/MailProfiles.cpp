#include "outlook/MailProfiles.h"

#include <cstring>

const char* const MailProfilePlaces[3] = {
    "Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles",
    "Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles"};
const char PickLogonProfileKey[] = "Software\\Microsoft\\Exchange\\Client\\Options";

namespace {

// Outlook 2013 and later name the default beside their Profiles key; older ones in it.
const char* const defaultProfileKeys[3] = {"Software\\Microsoft\\Office\\16.0\\Outlook",
                                           "Software\\Microsoft\\Office\\15.0\\Outlook",
                                           MailProfilePlaces[2]};

class Key {
  public:
    explicit Key(const char* path) {
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            key = nullptr;
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key != nullptr)
            RegCloseKey(key);
    }
    HKEY Get() const { return key; }

  private:
    HKEY key = nullptr;
};

DWORD SubkeyCount(const Key& key) {
    DWORD count = 0;
    if (key.Get() == nullptr ||
        RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return count;
}

// A REG_SZ (or REG_EXPAND_SZ) value as text; empty when there is none. Profile names are short.
std::string Text(const char* path, const char* name) {
    Key key(path);
    char text[260];
    DWORD type = 0, size = sizeof text - 1;
    if (key.Get() == nullptr ||
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    text[size] = '\0';
    return text;
}

// Outlook writes "1" as text; a number 1 is taken alike.
bool PromptsForProfile() {
    Key key(PickLogonProfileKey);
    BYTE data[16] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (key.Get() == nullptr || RegQueryValueExA(key.Get(), "PickLogonProfile", nullptr, &type,
                                                 data, &size) != ERROR_SUCCESS)
        return false;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number;
        std::memcpy(&number, data, sizeof number);
        return number == 1;
    }
    return type == REG_SZ && std::strcmp(reinterpret_cast<char*>(data), "1") == 0;
}

} // namespace

MailProfiles ReadMailProfiles() {
    MailProfiles profiles;
    profiles.state = MailProfileState::None;
    for (size_t n = 0; n < 3; ++n) {
        Key key(MailProfilePlaces[n]);
        DWORD count = SubkeyCount(key);
        if (count == 0)
            continue;
        profiles.place = MailProfilePlaces[n];
        profiles.count = count;
        std::string name = Text(defaultProfileKeys[n], "DefaultProfile");
        HKEY profile = nullptr;
        if (!name.empty() &&
            RegOpenKeyExA(key.Get(), name.c_str(), 0, KEY_READ, &profile) == ERROR_SUCCESS) {
            RegCloseKey(profile);
            profiles.defaultName = name;
        }
        profiles.state = PromptsForProfile()            ? MailProfileState::Prompt
                         : profiles.defaultName.empty() ? MailProfileState::NoDefault
                                                        : MailProfileState::Default;
        break;
    }
    return profiles;
}
