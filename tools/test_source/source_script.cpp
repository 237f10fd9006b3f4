#include "tools/test_source/source_script.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

SourceScript Script;

namespace {

void SetDefaults()
{
    Script = SourceScript{};
    strcpy(Script.productName, "QRV Test Source");
    Script.resolution = 200;
    Script.atEnable = EnableAction::XferReady;
    Script.closeAfterLastPage = true;
    Script.preferredBuffer = 8192;
}

bool ValidPage(const PageSpec& page)
{
    return page.width > 0 && page.width <= 20000 && page.height > 0 && page.height <= 20000 &&
           (page.bits == 1 || page.bits == 8 || page.bits == 24);
}

EnableAction ParseEnableAction(const char* word)
{
    if (strcmp(word, "none") == 0)
        return EnableAction::None;
    if (strcmp(word, "closereq") == 0)
        return EnableAction::CloseReq;
    if (strcmp(word, "both") == 0)
        return EnableAction::Both;
    return EnableAction::XferReady;
}

void ParseLine(char* line, bool& enableGiven)
{
    char* end = line + strcspn(line, "#\r\n");
    *end = 0;
    char command[32] = "";
    int used = 0;
    if (sscanf(line, "%31s %n", command, &used) < 1)
        return;
    const char* rest = line + used;
    if (strcmp(command, "name") == 0) {
        strncpy(Script.productName, rest, sizeof Script.productName - 1);
        for (size_t n = strlen(Script.productName); n > 0 && Script.productName[n - 1] == ' ';)
            Script.productName[--n] = 0;
    } else if (strcmp(command, "page") == 0) {
        PageSpec page{};
        if (sscanf(rest, "%d %d %d", &page.width, &page.height, &page.bits) == 3 &&
            ValidPage(page) && Script.pageCount < MaxScriptPages)
            Script.pages[Script.pageCount++] = page;
    } else if (strcmp(command, "resolution") == 0) {
        Script.resolution = atoi(rest);
    } else if (strcmp(command, "atenable") == 0) {
        char word[16] = "";
        sscanf(rest, "%15s", word);
        Script.atEnable = ParseEnableAction(word);
        enableGiven = true;
    } else if (strcmp(command, "closeafter") == 0) {
        Script.closeAfterLastPage = strncmp(rest, "no", 2) != 0;
    } else if (strcmp(command, "window") == 0) {
        Script.window = true;
    } else if (strcmp(command, "consume") == 0) {
        Script.consumedMessage = strtoul(rest, nullptr, 0);
    } else if (strcmp(command, "refuse") == 0) {
        unsigned dat, msg, code;
        if (sscanf(rest, "%x %x %u", &dat, &msg, &code) == 3 && Script.refusalCount < MaxRefusals)
            Script.refusals[Script.refusalCount++] = {TW_UINT16(dat), TW_UINT16(msg), TW_UINT16(code)};
    } else if (strcmp(command, "corrupt") == 0) {
        Script.corrupt = true;
    } else if (strcmp(command, "box") == 0) {
        strncpy(Script.boxText, rest, sizeof Script.boxText - 1);
    } else if (strcmp(command, "preferred") == 0) {
        Script.preferredBuffer = strtoul(rest, nullptr, 0);
    }
}

}  // namespace

void ReadSourceScript(const char* path)
{
    SetDefaults();
    bool enableGiven = false;
    FILE* file = fopen(path, "r");
    if (file) {
        char line[512];
        while (fgets(line, sizeof line, file))
            ParseLine(line, enableGiven);
        fclose(file);
    }
    if (Script.window && !enableGiven)
        Script.atEnable = EnableAction::None;
    if (Script.pageCount == 0)
        Script.pages[Script.pageCount++] = {16, 8, 8};
}
