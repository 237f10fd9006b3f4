#include "tools/device_simulator/storage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pugixml.hpp>

namespace {

bool ParseHexId(const char* text, uint32_t& id)
{
    if (!text || !*text || strlen(text) > 8)
        return false;
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 16);
    if (*end)
        return false;
    id = static_cast<uint32_t>(value);
    return true;
}

struct Loader {
    Storage& storage;
    std::string root;
    std::string error;

    bool Fail(const std::string& why)
    {
        error = why;
        return false;
    }

    bool LoadDocument(pugi::xml_node node, int folder, int owner)
    {
        SimDocument document;
        if (!ParseHexId(node.attribute("id").value(), document.id))
            return Fail("document without a valid hexadecimal id");
        if (storage.DocumentById(document.id) >= 0)
            return Fail("document id " + HexId(document.id) + " appears twice");
        document.folder = folder;
        document.subject = node.attribute("subject").value();
        document.timestamp = node.attribute("timestamp").value();
        document.doctype = node.attribute("doctype").as_string("SCAN");
        document.status = node.attribute("status").as_string("NEW");
        document.pages = node.attribute("pages").as_int(1);
        document.owner = node.attribute("owner").as_int(owner);
        document.imagePath = node.attribute("imagepath").as_string(DefaultImagePath(document.id).c_str());
        std::string file = node.attribute("file").value();
        if (!file.empty())
            document.file = file[0] == '/' ? file : root + "/" + file;
        storage.folders[static_cast<size_t>(folder)].documents.push_back(static_cast<int>(storage.documents.size()));
        storage.documents.push_back(document);
        return true;
    }

    // Returns the new folder's index, or -1.
    int LoadFolder(pugi::xml_node node, int owner)
    {
        SimFolder folder;
        if (!ParseHexId(node.attribute("id").value(), folder.id)) {
            Fail("folder without a valid hexadecimal id");
            return -1;
        }
        if (storage.FolderById(folder.id) >= 0) {
            Fail("folder id " + HexId(folder.id) + " appears twice");
            return -1;
        }
        folder.name = node.attribute("name").value();
        folder.timestamp = node.attribute("timestamp").value();
        folder.owner = owner;
        int index = static_cast<int>(storage.folders.size());
        storage.folders.push_back(folder);
        for (pugi::xml_node child : node.children()) {
            std::string kind = child.name();
            if (kind == "folder") {
                int sub = LoadFolder(child, owner);
                if (sub < 0)
                    return -1;
                storage.folders[static_cast<size_t>(index)].folders.push_back(sub);
            } else if (kind == "document") {
                if (!LoadDocument(child, index, owner))
                    return -1;
            } else if (child.type() == pugi::node_element) {
                Fail("unknown element <" + kind + "> in a folder");
                return -1;
            }
        }
        return index;
    }

    bool LoadUser(pugi::xml_node node)
    {
        SimUser user;
        user.id = node.attribute("id").value();
        user.name = node.attribute("name").value();
        user.password = node.attribute("password").value();
        user.handle = node.attribute("handle").as_int(0);
        if (user.handle == 0)
            return Fail("user " + user.id + " without a nonzero handle");
        if (storage.UserByHandle(user.handle))
            return Fail("user handle " + std::to_string(user.handle) + " appears twice");
        for (pugi::xml_node child : node.children("folder")) {
            int folder = LoadFolder(child, user.handle);
            if (folder < 0)
                return false;
            user.folders.push_back(folder);
        }
        storage.users.push_back(user);
        return true;
    }
};

}  // namespace

std::string HexId(uint32_t id)
{
    char text[16];
    snprintf(text, sizeof text, "%08X", id);
    return text;
}

std::string DefaultImagePath(uint32_t id) { return "/strage/" + HexId(id) + ".tif"; }

const SimUser* Storage::UserByHandle(int handle) const
{
    for (const SimUser& user : users)
        if (user.handle == handle)
            return &user;
    return nullptr;
}

int Storage::FolderById(uint32_t id) const
{
    for (size_t i = 0; i < folders.size(); ++i)
        if (folders[i].id == id)
            return static_cast<int>(i);
    return -1;
}

int Storage::DocumentById(uint32_t id) const
{
    for (size_t i = 0; i < documents.size(); ++i)
        if (documents[i].id == id)
            return static_cast<int>(i);
    return -1;
}

int Storage::DocumentByImagePath(const std::string& path) const
{
    for (size_t i = 0; i < documents.size(); ++i)
        if (!documents[i].deleted && documents[i].imagePath == path)
            return static_cast<int>(i);
    return -1;
}

bool LoadStorage(const std::string& folder, Storage& storage, std::string& error)
{
    pugi::xml_document description;
    std::string path = folder + "/storage.xml";
    pugi::xml_parse_result parsed = description.load_file(path.c_str());
    if (!parsed) {
        error = path + ": " + parsed.description();
        return false;
    }
    pugi::xml_node root = description.child("storage");
    if (!root) {
        error = path + ": no <storage> element";
        return false;
    }
    storage.name = root.attribute("name").as_string(storage.name.c_str());
    storage.type = root.attribute("type").as_string(storage.type.c_str());
    Loader loader{storage, folder, {}};
    for (pugi::xml_node user : root.children("user")) {
        if (!loader.LoadUser(user)) {
            error = path + ": " + loader.error;
            return false;
        }
    }
    return true;
}

void AddSyntheticFolders(Storage& storage, int count)
{
    for (SimUser& user : storage.users) {
        for (int i = 0; i < count; ++i) {
            SimFolder folder;
            folder.id = 0x00F00000u + static_cast<uint32_t>(user.handle & 0xFF) * 0x1000u + static_cast<uint32_t>(i);
            char name[32];
            snprintf(name, sizeof name, "Folder %03d", i + 1);
            folder.name = name;
            folder.owner = user.handle;
            user.folders.push_back(static_cast<int>(storage.folders.size()));
            storage.folders.push_back(folder);
        }
    }
}

void AddSyntheticDocuments(Storage& storage, int count)
{
    // Every synthetic document shows the file of the first document that has one.
    std::string file;
    for (const SimDocument& document : storage.documents)
        if (!document.file.empty()) {
            file = document.file;
            break;
        }
    uint32_t next = 0x01000000u;
    for (SimUser& user : storage.users) {
        if (user.folders.empty())
            continue;
        int folder = user.folders.front();
        for (int i = 0; i < count; ++i) {
            SimDocument document;
            document.id = next++;
            document.folder = folder;
            char text[64];
            snprintf(text, sizeof text, "Document %05d", i + 1);
            document.subject = text;
            snprintf(text, sizeof text, "2024/01/%02d %02d:%02d:%02d", 1 + i / 86400 % 28, i / 3600 % 24, i / 60 % 60,
                     i % 60);
            document.timestamp = text;
            document.pages = 1 + i % 9;
            document.owner = user.handle;
            document.imagePath = DefaultImagePath(document.id);
            document.file = file;
            storage.folders[static_cast<size_t>(folder)].documents.push_back(static_cast<int>(storage.documents.size()));
            storage.documents.push_back(document);
        }
    }
}
