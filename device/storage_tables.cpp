#include "device/storage_tables.h"

FolderRecord FolderTable[FolderTableSize];
int FolderCount = -1;
DocumentRecord DocumentTable[DocumentTableSize];
int DocumentCount = -1;
UserRecord UserTable[UserTableSize];
int UserCount = -1;

int32_t UserHandle = 0;
char LogonPassword[21];
char SelectedUser[35];

char CurrentDocumentPath[MAX_PATH];
