// The default sample storage: the ITU-T test pages re-encoded as T.4, T.6 and JBIG TIFF
// documents, in fine and standard resolution, one to eight pages, for three users.
#pragma once

#include <string>

// Writes folder/storage.xml and folder/documents/*.tif; false with a reason in error.
bool MakeSampleStorage(const std::string& folder, const std::string& ituFolder, std::string& error);
