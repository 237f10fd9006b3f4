#include "source/triplet_dispatch.h"

#include "source/capability_negotiation.h"
#include "source/control_operations.h"
#include "source/image_operations.h"
#include "source/source_state.h"

namespace {

struct DispatchEntry {
    TW_UINT16 argumentType;
    TripletHandler handler;
};

// Scanned in this order; the first entry of the call's argument type serves it.
const DispatchEntry ControlTable[] = {
    {DAT_IDENTITY, IdentityHandler},
    {DAT_USERINTERFACE, UserInterfaceHandler},
    {DAT_CAPABILITY, CapabilityHandler},
    {DAT_STATUS, StatusHandler},
    {DAT_PENDINGXFERS, PendingXfersHandler},
    {DAT_SETUPMEMXFER, SetupMemXferHandler},
    {DAT_SETUPFILEXFER, SetupFileXferHandler},
    {DAT_XFERGROUP, XferGroupHandler},
};

const DispatchEntry ImageTable[] = {
    {DAT_IMAGEINFO, ImageInfoHandler},
    {DAT_IMAGELAYOUT, ImageLayoutHandler},
    {DAT_IMAGEMEMXFER, ImageMemXferHandler},
    {DAT_IMAGENATIVEXFER, ImageNativeXferHandler},
    {DAT_IMAGEFILEXFER, ImageFileXferHandler},
    {DAT_PALETTE8, Palette8Handler},
    {DAT_GRAYRESPONSE, GrayResponseHandler},
    {DAT_RGBRESPONSE, RgbResponseHandler},
    {DAT_CIECOLOR, CieColorHandler},
    {DAT_JPEGCOMPRESSION, JpegCompressionHandler},
};

template <size_t N>
TripletHandler FindHandler(const DispatchEntry (&table)[N], TW_UINT16 argumentType)
{
    for (const DispatchEntry& entry : table)
        if (entry.argumentType == argumentType)
            return entry.handler;
    return nullptr;
}

// A call from anyone but the application that opened the source is neither served nor allowed
// to touch any state. A call without an origin cannot be told apart, so it is treated the same.
bool FromOpeningApplication(pTW_IDENTITY origin)
{
    if (!origin)
        return false;
    return AppIdentity.Id == 0 || origin->Id == AppIdentity.Id;
}

bool InSourceWindow(HWND window)
{
    return window && (window == SourceWindow || IsChild(SourceWindow, window));
}

// Alt+F4 on any control of the window. A control may take the key itself (Wine's tree view does)
// and the window never hears of it, so the source acts on the key as it passes: the window is
// asked to close as its close box would ask, and the key goes no further. A disabled window (a
// batch under way) takes no keys.
bool ClosedByKeys(const MSG& message)
{
    if (message.message != WM_SYSKEYDOWN || message.wParam != VK_F4 || !(HIWORD(message.lParam) & KF_ALTDOWN))
        return false;
    if (!InSourceWindow(message.hwnd) || !IsWindowEnabled(SourceWindow))
        return false;
    PostMessageA(SourceWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    return true;
}

// TWMessage is MSG_NULL whatever the answer: the source's notifications go through the manager,
// never through an event.
TW_UINT16 ProcessEvent(TW_MEMREF data)
{
    TW_EVENT* event = static_cast<TW_EVENT*>(data);
    if (!event)
        return TWRC_NOTDSEVENT;
    event->TWMessage = MSG_NULL;
    const MSG* message = static_cast<const MSG*>(event->pEvent);
    if (!SourceWindow || !message)
        return TWRC_NOTDSEVENT;
    if (ClosedByKeys(*message))
        return TWRC_DSEVENT;
    if (!IsDialogMessageA(SourceWindow, const_cast<MSG*>(message)))
        return TWRC_NOTDSEVENT;
    return TWRC_DSEVENT;
}

}  // namespace

TW_UINT16 DispatchTriplet(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,
                          TW_UINT16 message, TW_MEMREF data)
{
    if (!FromOpeningApplication(origin))
        return TWRC_FAILURE;
    if (message == MSG_PROCESSEVENT)
        return ProcessEvent(data);
    if (group != DG_CONTROL && argumentType != DAT_STATUS)
        ConditionCode = TWCC_SUCCESS;

    TripletHandler handler = nullptr;
    if (group == DG_CONTROL)
        handler = FindHandler(ControlTable, argumentType);
    else if (group == DG_IMAGE)
        handler = FindHandler(ImageTable, argumentType);
    if (!handler) {
        ConditionCode = TWCC_BADPROTOCOL;
        return TWRC_FAILURE;
    }
    return handler(origin, group, argumentType, message, data);
}
