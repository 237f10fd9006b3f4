#include "device/storage_tables.h"

char CurrentDocumentPath[MAX_PATH];
