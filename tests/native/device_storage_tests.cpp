// The simulator's storage description: the sample it serves to every end-to-end test, and the
// descriptions it must refuse rather than serve half.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tools/device_simulator/storage.h"

namespace {

struct Folder {
    std::string path = testing::TempDir() + "storage_test";
    explicit Folder(const std::string& xml)
    {
        std::string command = "mkdir -p '" + path + "'";
        EXPECT_EQ(0, system(command.c_str()));
        std::ofstream(path + "/storage.xml") << xml;
    }
};

std::string LoadError(const std::string& xml)
{
    Folder folder(xml);
    Storage storage;
    std::string error;
    EXPECT_FALSE(LoadStorage(folder.path, storage, error)) << xml;
    return error;
}

}  // namespace

TEST(DeviceStorage, SampleHoldsThreeUsersAndTheirDocuments)
{
    Storage storage;
    std::string error;
    ASSERT_TRUE(LoadStorage(QRV_SAMPLE_STORAGE, storage, error)) << error;
    ASSERT_EQ(3u, storage.users.size());
    EXPECT_EQ("secret", storage.users[1].password);
    EXPECT_EQ(9u, storage.documents.size());
    int scans = storage.FolderById(0x101);
    ASSERT_GE(scans, 0);
    const SimFolder& folder = storage.folders[static_cast<size_t>(scans)];
    ASSERT_EQ(1u, folder.folders.size());
    EXPECT_EQ("Archive", storage.folders[static_cast<size_t>(folder.folders[0])].name);
    for (const SimDocument& document : storage.documents) {
        EXPECT_EQ(DefaultImagePath(document.id), document.imagePath);
        std::ifstream file(document.file, std::ios::binary);
        char header[4] = {};
        file.read(header, 4);
        EXPECT_EQ(std::string("II*\0", 4), std::string(header, 4)) << document.file;
        EXPECT_LE(document.imagePath.size(), 40u);
    }
    int jbig = storage.DocumentById(0x1005);
    ASSERT_GE(jbig, 0);
    EXPECT_EQ(8, storage.documents[static_cast<size_t>(jbig)].pages);
}

TEST(DeviceStorage, SyntheticRecordsExtendEveryUser)
{
    Storage storage;
    std::string error;
    ASSERT_TRUE(LoadStorage(QRV_SAMPLE_STORAGE, storage, error)) << error;
    AddSyntheticFolders(storage, 150);
    AddSyntheticDocuments(storage, 20);
    EXPECT_EQ(152u, storage.users[0].folders.size());
    const SimFolder& inbox = storage.folders[static_cast<size_t>(storage.users[0].folders[0])];
    EXPECT_EQ(24u, inbox.documents.size());
    // Ids stay unique across users.
    for (size_t i = 0; i < storage.folders.size(); ++i)
        EXPECT_EQ(static_cast<int>(i), storage.FolderById(storage.folders[i].id));
}

TEST(DeviceStorage, FaultyDescriptionsAreRefusedWithAReason)
{
    EXPECT_NE(std::string::npos, LoadError("<storage><user").find("storage.xml"));
    EXPECT_NE(std::string::npos, LoadError("<other/>").find("no <storage>"));
    EXPECT_NE(std::string::npos, LoadError("<storage><user id=\"1\"/></storage>").find("handle"));
    EXPECT_NE(std::string::npos,
              LoadError("<storage><user id=\"1\" handle=\"1\"/><user id=\"2\" handle=\"1\"/></storage>").find("twice"));
    EXPECT_NE(std::string::npos,
              LoadError("<storage><user id=\"1\" handle=\"1\"><folder id=\"xyz\"/></user></storage>").find("hexadecimal"));
    EXPECT_NE(std::string::npos, LoadError("<storage><user id=\"1\" handle=\"1\"><folder id=\"1\"/>"
                                           "<folder id=\"1\"/></user></storage>")
                                     .find("folder id 00000001 appears twice"));
    EXPECT_NE(std::string::npos, LoadError("<storage><user id=\"1\" handle=\"1\"><folder id=\"1\"><document id=\"5\"/>"
                                           "<document id=\"5\"/></folder></user></storage>")
                                     .find("document id 00000005 appears twice"));
    EXPECT_NE(std::string::npos,
              LoadError("<storage><user id=\"1\" handle=\"1\"><folder id=\"1\"><file/></folder></user></storage>")
                  .find("<file>"));
}
