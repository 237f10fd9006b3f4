#include "source/transfer_state.h"

TransferStateRecord TransferState;

void FreeHeldPage()
{
    if (TransferState.HeldPage) {
        GlobalFree(TransferState.HeldPage);
        TransferState.HeldPage = nullptr;
    }
}

void ClosePageFile()
{
    HANDLE file = TransferState.PageFileHandle;
    TransferState.PageFileHandle = nullptr;
    if (file && file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void LetGoOfPage()
{
    FreeHeldPage();
    ClosePageFile();
    TransferState.PageRowBytes = 0;
}

void ResetMemoryTransferCounters()
{
    TransferState.StripBytesPerRow = 0;
    TransferState.StripRowOffset = 0;
}
