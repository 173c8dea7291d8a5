#include "tools/release_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace kvn::tools {
namespace {

constexpr char kNewSuffix[] = ".kvn_sign-new";
constexpr char kOldSuffix[] = ".kvn_sign-old";

std::string Why() { return std::strerror(errno); }

// The whole of `data` in a new file at `path`, on the disk before it
// counts as written; the mode of the file it will replace, if any.
bool WriteNew(const std::string& path, const std::string& data, mode_t mode, std::string& why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        why = Why();
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    if (ok && ::fchmod(fd, mode) != 0) ok = false;  // the mode as asked, whatever the umask
    if (ok && ::fsync(fd) != 0) ok = false;
    if (!ok) why = Why();
    if (::close(fd) != 0 && ok) {
        why = Why();
        ok = false;
    }
    if (!ok) ::unlink(path.c_str());
    return ok;
}

struct Step {
    const NewFile* file;
    std::string temporary, kept;
    bool existed = false, isFile = false, isFolder = false, keptMade = false, placed = false;
    mode_t mode = 0644;
};

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplaceAll(const std::vector<NewFile>& files, std::string& error) {
    std::vector<Step> steps;
    steps.reserve(files.size());
    auto undo = [&] {
        // What was put in place goes back, newest first; what was added goes.
        std::string lost;
        for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
            if (it->placed) {
                const bool back = it->keptMade ? ::rename(it->kept.c_str(), it->file->path.c_str()) == 0
                                               : ::unlink(it->file->path.c_str()) == 0;
                if (back) it->keptMade = false;
                else lost += "; " + it->file->path + " could not be put back (the old file is " + it->kept + ")";
            }
            if (it->keptMade) ::unlink(it->kept.c_str());
            ::unlink(it->temporary.c_str());
        }
        error += lost.empty() ? "; nothing was changed" : lost;
    };

    // Everything is checked and written beside the targets first.
    for (const NewFile& file : files) {
        Step step{&file, file.path + kNewSuffix, file.path + kOldSuffix};
        struct stat st{};
        if (::lstat(file.path.c_str(), &st) == 0) {
            step.existed = true;
            step.isFile = S_ISREG(st.st_mode);
            step.isFolder = S_ISDIR(st.st_mode);
            step.mode = st.st_mode & 07777;
            if (step.isFile && (st.st_mode & 0222) == 0) {
                error = "cannot replace " + file.path + ": it is read-only";
                undo();
                return false;
            }
        }
        for (const std::string& beside : {step.temporary, step.kept})
            if (::lstat(beside.c_str(), &st) == 0) {
                error = "cannot replace " + file.path + ": " + beside +
                        " exists (left by an earlier run that was cut short?); look at it and remove it";
                undo();
                return false;
            }
        std::string why;
        if (!WriteNew(step.temporary, file.data, step.isFile ? step.mode : 0644, why)) {
            error = "cannot write " + file.path + ": " + why;
            undo();
            return false;
        }
        steps.push_back(step);
        // The old file (or link) is kept under a second name, which costs
        // no space. A folder cannot be replaced: putting it in place fails.
        if (steps.back().existed && !steps.back().isFolder) {
            if (::link(file.path.c_str(), steps.back().kept.c_str()) != 0) {
                error = "cannot keep the old " + file.path + " aside: " + Why();
                undo();
                return false;
            }
            steps.back().keptMade = true;
        }
    }
    // Then all are put in place; a failure puts back the ones before it.
    for (Step& step : steps) {
        if (::rename(step.temporary.c_str(), step.file->path.c_str()) != 0) {
            error = "cannot put " + step.file->path + " in place: " + Why();
            undo();
            return false;
        }
        step.placed = true;
    }
    for (Step& step : steps)
        if (step.keptMade) ::unlink(step.kept.c_str());
    // The renames on the disk too.
    if (!steps.empty()) {
        const int dir = ::open(FolderOf(steps.front().file->path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return true;
}

}  // namespace kvn::tools
