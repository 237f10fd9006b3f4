#include "tools/qrvbox/output_folder.h"

namespace {

constexpr char WorkFolderName[] = ".qrvbox-partial";
constexpr char LockFileName[] = ".qrvbox.lock";

// Everything in the work folder is a file of an earlier run that never became complete (the
// protocol library's own temporary files included).
void ClearWorkFolder(const std::string& work) {
    for (const std::string& name : FolderEntries(work)) RemoveFile(JoinPath(work, name));
}

}  // namespace

bool OutputFolder::Open(const std::string& path, std::string& problem) {
    std::string why;
    if (!MakeFolders(path, why)) {
        problem = "the folder " + path + " cannot be made: " + why;
        return false;
    }
    if (!lock_.Take(JoinPath(path, LockFileName))) {
        problem = "another qrvbox run is working in " + path + " (or its lock file cannot be made)";
        return false;
    }
    path_ = path;
    work_ = JoinPath(path, WorkFolderName);
    if (!MakeFolders(work_, why)) {
        problem = "the folder " + work_ + " cannot be made: " + why;
        return false;
    }
    ClearWorkFolder(work_);
    open_ = true;
    return true;
}

OutputFolder::~OutputFolder() {
    if (!open_) return;
    ClearWorkFolder(work_);
    RemoveEmptyFolder(work_);
}
