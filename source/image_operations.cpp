#include "source/image_operations.h"

#include "source/source_state.h"

// The image operations come with the page pipeline; until then each answers like an unknown
// operation.
QRV_IMAGE_HANDLER(ImageInfoHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(ImageLayoutHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(ImageMemXferHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(ImageNativeXferHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(ImageFileXferHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(Palette8Handler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(GrayResponseHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(RgbResponseHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
QRV_IMAGE_HANDLER(CieColorHandler) { return RefuseRequest(TWCC_BADPROTOCOL, "not available"); }
// Nothing is compressed: every request about JPEG compression succeeds and changes nothing.
QRV_IMAGE_HANDLER(JpegCompressionHandler) { return TWRC_SUCCESS; }
