// The DG_IMAGE handlers.
#pragma once

#include "source/twain.h"

#define QRV_IMAGE_HANDLER(name)                                                                 \
    TW_UINT16 name(pTW_IDENTITY origin, TW_UINT32 group, TW_UINT16 argumentType,                 \
                   TW_UINT16 message, TW_MEMREF data)

QRV_IMAGE_HANDLER(ImageInfoHandler);
QRV_IMAGE_HANDLER(ImageLayoutHandler);
QRV_IMAGE_HANDLER(ImageMemXferHandler);
QRV_IMAGE_HANDLER(ImageNativeXferHandler);
QRV_IMAGE_HANDLER(ImageFileXferHandler);
QRV_IMAGE_HANDLER(Palette8Handler);
QRV_IMAGE_HANDLER(GrayResponseHandler);
QRV_IMAGE_HANDLER(RgbResponseHandler);
QRV_IMAGE_HANDLER(CieColorHandler);
QRV_IMAGE_HANDLER(JpegCompressionHandler);
