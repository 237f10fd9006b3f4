#include "imaging/fax_decoder.h"
