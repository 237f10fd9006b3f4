#include "tools/twain_manager/manager_state.h"

HMODULE ManagerModule;
ManagerSession Session;
TW_UINT16 ManagerCondition;
KnownSource KnownSources[MaxKnownSources];
int KnownSourceCount;
bool SourcesScanned;
int NextKnownSource;
char DefaultSourcePath[MAX_PATH];
OpenSource OpenSources[MaxOpenSources];
TW_UINT32 NextId = 1;

TW_UINT16 RefuseFromManager(TW_UINT16 code)
{
    ManagerCondition = code;
    return TWRC_FAILURE;
}

OpenSource* FindOpenSource(TW_UINT32 id)
{
    if (id == 0)
        return nullptr;
    for (OpenSource& source : OpenSources)
        if (source.identity.Id == id)
            return &source;
    return nullptr;
}

bool IsOpenSourceId(TW_UINT32 id)
{
    return FindOpenSource(id) != nullptr;
}
