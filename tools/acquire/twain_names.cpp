#include "tools/acquire/twain_names.h"

namespace {

struct CodeName {
    TW_UINT16 code;
    const char* name;
};

const CodeName ReturnCodes[] = {
    {TWRC_SUCCESS, "TWRC_SUCCESS"},       {TWRC_FAILURE, "TWRC_FAILURE"},
    {TWRC_CHECKSTATUS, "TWRC_CHECKSTATUS"}, {TWRC_CANCEL, "TWRC_CANCEL"},
    {TWRC_DSEVENT, "TWRC_DSEVENT"},       {TWRC_NOTDSEVENT, "TWRC_NOTDSEVENT"},
    {TWRC_XFERDONE, "TWRC_XFERDONE"},     {TWRC_ENDOFLIST, "TWRC_ENDOFLIST"},
};

const CodeName ConditionCodes[] = {
    {TWCC_SUCCESS, "TWCC_SUCCESS"},
    {TWCC_BUMMER, "TWCC_BUMMER"},
    {TWCC_LOWMEMORY, "TWCC_LOWMEMORY"},
    {TWCC_NODS, "TWCC_NODS"},
    {TWCC_MAXCONNECTIONS, "TWCC_MAXCONNECTIONS"},
    {TWCC_OPERATIONERROR, "TWCC_OPERATIONERROR"},
    {TWCC_BADCAP, "TWCC_BADCAP"},
    {TWCC_BADPROTOCOL, "TWCC_BADPROTOCOL"},
    {TWCC_BADVALUE, "TWCC_BADVALUE"},
    {TWCC_SEQERROR, "TWCC_SEQERROR"},
    {TWCC_BADDEST, "TWCC_BADDEST"},
    {TWCC_CAPUNSUPPORTED, "TWCC_CAPUNSUPPORTED"},
    {TWCC_CAPBADOPERATION, "TWCC_CAPBADOPERATION"},
    {TWCC_CAPSEQERROR, "TWCC_CAPSEQERROR"},
    {TWCC_DENIED, "TWCC_DENIED"},
};

const CodeName Notifications[] = {
    {MSG_NULL, "MSG_NULL"},
    {MSG_XFERREADY, "MSG_XFERREADY"},
    {MSG_CLOSEDSREQ, "MSG_CLOSEDSREQ"},
    {MSG_CLOSEDSOK, "MSG_CLOSEDSOK"},
};

template <size_t N>
const char* Lookup(const CodeName (&table)[N], TW_UINT16 code)
{
    for (const CodeName& entry : table)
        if (entry.code == code)
            return entry.name;
    return "unknown";
}

}  // namespace

const char* ReturnCodeName(TW_UINT16 code)
{
    return Lookup(ReturnCodes, code);
}

const char* ConditionCodeName(TW_UINT16 code)
{
    return Lookup(ConditionCodes, code);
}

const char* NotificationName(TW_UINT16 message)
{
    return Lookup(Notifications, message);
}
