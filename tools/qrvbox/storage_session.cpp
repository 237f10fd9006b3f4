#include "tools/qrvbox/storage_session.h"

#include "tools/qrvbox/output.h"
#include "tools/qrvbox/platform.h"

namespace {

constexpr int32_t CodeAuthenticationFailed = 807;

std::string CodeFailure(int32_t code) {
    const char* text = DeviceCodeText(code);
    return text ? std::string("the device refused: ") + text
                : "the device answered with result code " + std::to_string(code);
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

std::string Names(const std::vector<std::string>& names) {
    if (names.empty()) return "none";
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

RecordKind KindOf(const DocumentEntry& record) {
    if (record.type == "FOLDER") return RecordKind::Folder;
    if (record.type.find("FOLDER") != std::string::npos) return RecordKind::Hidden;
    return RecordKind::Document;
}

std::string StorageSession::DeviceText() const {
    const DeviceAddress& device = settings_.device;
    const bool ipv6 = device.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + device.host + "]" : device.host) + ":" + std::to_string(device.port);
}

bool StorageSession::Run(StorageCommand command, const StorageRequest& request, const LinkTimeouts& timeouts,
                         StorageAnswer& answer, Failure& failure) {
    answer.command = command;
    const uint32_t code = SendCommand(settings_.device, request, timeouts, answer);
    if (code != LinkOk) {
        failure.text = LinkResultText(code) + " (" + DeviceText() + ")";
        failure.lost = LinkLost(code);
        return false;
    }
    if (answer.Refused()) {
        failure.text = CodeFailure(answer.lastCode);
        failure.deviceCode = answer.lastCode;
        return false;
    }
    return true;
}

bool StorageSession::Users(std::vector<UserEntry>& users) {
    StorageAnswer answer;
    Failure failure;
    if (!Run(StorageCommand::Users, UserListRequest(), CommandTimeouts, answer, failure)) {
        Say(failure.text);
        return false;
    }
    users = std::move(answer.users);
    return true;
}

bool StorageSession::ListFolders(Failure& failure) {
    StorageAnswer answer;
    if (!Run(StorageCommand::Folders, FolderListRequest(userHandle_, password_), CommandTimeouts, answer, failure))
        return false;
    folders_ = std::move(answer.folders);
    return true;
}

bool StorageSession::LogOn() {
    std::vector<UserEntry> users;
    if (!Users(users)) return false;
    userHandle_ = FindUserHandle(users, settings_.user);
    if (userHandle_ == 0) {
        Say("the device has no user '" + settings_.user + "' ('qrvbox users' lists them)");
        return false;
    }
    bool given = false;
    std::string problem;
    if (!GivenPassword(settings_, password_, given, problem)) {
        Say(problem);
        return false;
    }
    Failure failure;
    bool listed = ListFolders(failure);
    // Without a password given, a refused logon asks for one when someone is at the terminal.
    if (!listed && !given && failure.deviceCode == CodeAuthenticationFailed && IsTerminal(stdin)) {
        if (ReadSecret(("Password for user " + settings_.user + " on " + DeviceText() + ": ").c_str(), password_)) {
            failure = Failure{};
            listed = ListFolders(failure);
        }
    }
    if (!listed) {
        Say(failure.text);
        if (!given && failure.deviceCode == CodeAuthenticationFailed)
            Say("give the password in QRVBOX_PASSWORD or with --password-file FILE");
        return false;
    }
    return true;
}

bool StorageSession::FindFolder(const std::string& path, uint32_t& folderId) {
    std::vector<std::string> names;
    for (const FolderEntry& folder : folders_) {
        if (folder.name == path) {
            folderId = folder.id;
            return true;
        }
        names.push_back(folder.name);
    }
    const std::vector<std::string> parts = SplitPath(path);
    bool found = false;
    for (const FolderEntry& folder : folders_) {
        if (folder.name == parts[0]) {
            folderId = folder.id;
            found = true;
            break;
        }
    }
    if (!found) {
        Say("the user has no folder '" + parts[0] + "' (the folders: " + Names(names) + ")");
        return false;
    }
    std::string reached = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
        std::vector<DocumentEntry> records;
        if (!ListFolder(folderId, records)) return false;
        std::vector<std::string> subfolders;
        found = false;
        for (const DocumentEntry& record : records) {
            if (KindOf(record) != RecordKind::Folder) continue;
            if (record.folderName == parts[i]) {
                folderId = record.folderId;
                found = true;
                break;
            }
            subfolders.push_back(record.folderName);
        }
        if (!found) {
            Say("the folder " + reached + " has no sub-folder '" + parts[i] + "' (its sub-folders: " +
                Names(subfolders) + ")");
            return false;
        }
        reached += "/" + parts[i];
    }
    return true;
}

bool StorageSession::ListFolder(uint32_t folderId, std::vector<DocumentEntry>& records) {
    StorageAnswer answer;
    Failure failure;
    if (!Run(StorageCommand::Documents, DocumentListRequest(userHandle_, password_, folderId), DocumentListTimeouts,
             answer, failure)) {
        Say(failure.text);
        return false;
    }
    if (answer.tableFull)
        Say("the folder's listing holds more than " + std::to_string(DocumentCapacity) +
            " records; as in the source, only the first " + std::to_string(DocumentCapacity) + " are taken");
    records = std::move(answer.documents);
    return true;
}

bool StorageSession::Delete(uint32_t documentId, Failure& failure) {
    StorageAnswer answer;
    if (!Run(StorageCommand::Delete, DeleteRequest(userHandle_, password_, documentId), CommandTimeouts, answer,
             failure))
        return false;
    if (!answer.Deleted()) {
        failure.text = "the device did not confirm the deletion";
        return false;
    }
    return true;
}

bool StorageSession::Fetch(const DocumentEntry& document, const std::string& localPath, Failure& failure) {
    if (KindOf(document) != RecordKind::Document) {
        failure.text = "it is no document";
        return false;
    }
    const uint32_t code = FetchFile(settings_.device, document.imagePath, localPath);
    if (code == LinkOk) return true;
    failure.text = code == LinkRefusedAddress && !IsDevicePath(document.imagePath)
                       ? "its device path '" + document.imagePath + "' is no path on the device"
                       : LinkResultText(code) + " (" + DeviceText() + ")";
    failure.lost = LinkLost(code);
    return false;
}
