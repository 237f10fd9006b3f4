// The storage commands against the device simulator on loopback: what goes out, what comes
// back into the tables, and what the user is shown when it goes wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/storage_commands.h"

namespace {

void SetUsers(std::initializer_list<std::pair<const char*, int>> users)
{
    UserCount = 0;
    for (const auto& [id, handle] : users) {
        UserRecord& record = UserTable[UserCount++];
        memset(&record, 0, sizeof record);
        strcpy(record.userId, id);
        record.userHandle = handle;
    }
}

}  // namespace

TEST(FindUserHandle, MatchesTheFirstThreeBytesOfAUserEntry)
{
    SetUsers({{"001", 11}, {"002", 12}, {"ab", 13}, {"", 14}});
    EXPECT_EQ(11, FindUserHandle("001:Alice Archer"));
    EXPECT_EQ(12, FindUserHandle("002"));
    EXPECT_EQ(12, FindUserHandle("0029"));
    EXPECT_EQ(0, FindUserHandle("00"));
    EXPECT_EQ(0, FindUserHandle("003:Carol"));
    // An id shorter than three characters matches only a text equal to it, never an entry.
    EXPECT_EQ(0, FindUserHandle("ab:Anna Berg"));
    EXPECT_EQ(13, FindUserHandle("ab"));
    EXPECT_EQ(0, FindUserHandle(nullptr));

    UserCount = 0;
    EXPECT_EQ(0, FindUserHandle("001:Alice Archer"));
    UserCount = -1;
    EXPECT_EQ(0, FindUserHandle("001:Alice Archer"));
}
