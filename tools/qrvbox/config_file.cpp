// The saved settings on Linux: $XDG_CONFIG_HOME/qrvbox/config (~/.config/qrvbox/config when
// XDG_CONFIG_HOME is not set), lines of "name = value":
//
//     # the device and the user qrvbox uses unless told otherwise
//     device = 192.168.1.10:8080
//     user = 001
//     password-file = password
//
// Blank lines and lines starting with '#' are passed over. A relative password-file is taken
// from the configuration file's folder. A missing file means no saved settings.
#include <cerrno>
#include <cstring>

#include "tools/qrvbox/platform.h"
#include "tools/qrvbox/settings.h"

namespace {

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return {};
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

bool ReadSavedSettings(SavedSettings& saved, std::string& problem) {
    saved = SavedSettings{};
    const std::string path = SavedSettingsPlace();
    FILE* file = OpenFile(path, "r");
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        problem = "the settings file " + path + " cannot be read: " + std::strerror(errno);
        return false;
    }
    char buffer[1024];
    int number = 0;
    bool good = true;
    while (good && std::fgets(buffer, sizeof buffer, file)) {
        ++number;
        const std::string line = Trimmed(buffer);
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        const std::string name = equals == std::string::npos ? line : Trimmed(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : Trimmed(line.substr(equals + 1));
        if (equals != std::string::npos && name == "device") {
            saved.device = value;
        } else if (equals != std::string::npos && name == "user") {
            saved.user = value;
        } else if (equals != std::string::npos && name == "password-file" && !value.empty()) {
            saved.passwordFile = value[0] == '/' ? value : JoinPath(FolderOf(path), value);
        } else {
            problem = path + ", line " + std::to_string(number) + ": '" + line +
                      "' is not one of device = HOST[:PORT], user = ID, password-file = FILE";
            good = false;
        }
    }
    std::fclose(file);
    return good;
}
