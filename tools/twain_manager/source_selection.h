// MSG_USERSELECT: the dialog in which the user picks a source.
#pragma once

#include "source/twain.h"

// Shows the known sources, preselecting the one named in identity (or the default). Fills
// identity and answers TWRC_SUCCESS on Select, TWRC_CANCEL on Cancel.
TW_UINT16 SelectSource(TW_IDENTITY& identity);
