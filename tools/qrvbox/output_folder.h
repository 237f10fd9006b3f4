// The folder that fetched and archived files go to. Files are made in a work folder inside it
// (".qrvbox-partial") and reach their names in the output folder only when complete; one run at a
// time holds the folder (a lock file, ".qrvbox.lock"), and a run starts by removing what an
// interrupted run left in the work folder.
#pragma once

#include <string>

#include "tools/qrvbox/platform.h"

class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Creates the folders, takes the lock and clears the work folder; false with the reason.
    bool Open(const std::string& path, std::string& problem);
    // Where a file goes when complete, and where it is made until then.
    std::string Final(const std::string& name) const { return JoinPath(path_, name); }
    std::string Partial(const std::string& name) const { return JoinPath(work_, name + ".part"); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string work_;
    FolderLock lock_;
    bool open_ = false;
};
