// Replacing the files of a release folder all together or not at all: the
// operator's folder is either the old release or the new one, never a mix
// of the two (a record signed for files whose signatures are old).
#pragma once

#include <string>
#include <vector>

namespace kvn::tools {

struct NewFile {
    std::string path;
    std::string data;
};

// Writes each file beside its target ("<path>.kvn_sign-new"), and only when
// every one is written puts them all in place, each old file kept as
// "<path>.kvn_sign-old" until all are. A failure anywhere puts back what was
// moved and removes what was added, so the folder is byte for byte as it
// was; `error` then names the file that failed and why. An existing target
// that is read-only (no write permission for anyone) is not replaced, and
// neither name beside a target may exist already (left by a run that was
// cut short: it may hold the only copy of an old file).
bool ReplaceAll(const std::vector<NewFile>& files, std::string& error);

}  // namespace kvn::tools
