#pragma once
// A file replaced in one step, as Qt's QSaveFile does it, without Qt: the new
// contents go into a temporary file in the target's folder and take the
// target's place only when complete, so readers see the old file or the new
// one, never a part. A failure, a cancel, a signal or a power cut leaves the
// old file as it was. The new file takes the permissions and owner of the one
// it replaces; a file that is new gets 0666 less the process's umask.

#include <string>
#include <string_view>

#include <sys/types.h>

namespace melodex {

struct AtomicFileOptions {
    // What our temporaries begin with. A temporary left by a killed run
    // is removed by the next one only when it is empty or begins with
    // this, so a user's own file that happens to match the name pattern
    // survives. Empty: only empty leftovers are removed.
    std::string staleSignature;
    // True: a leftover whose name carries the check our temporaries' names
    // carry is removed whatever it holds, for files whose contents nothing
    // marks (the INI file).
    bool leftoversByName = false;
    // False writes through a named temporary even where the file system
    // offers an unnamed one, as on file systems without O_TMPFILE.
    bool unnamed = true;
};

class AtomicFile {
public:
    using Options = AtomicFileOptions;

    explicit AtomicFile(std::string target, Options options = {});
    ~AtomicFile(); // discards the temporary unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Follows links to the file they name where resolveTrusted lets it,
    // refuses a target that may not be written (a folder, a read-only file),
    // removes stale temporaries and creates the temporary.
    bool open();
    bool write(std::string_view bytes);
    // Makes the contents durable and puts them in place of the target.
    bool commit();

    // The name of the file that open() found to replace, after links.
    const std::string& finalName() const { return name_; }
    // "<target>: <reason>", the target as it was given.
    std::string error() const { return target_ + ": " + reason_; }
    const std::string& reason() const { return reason_; }

private:
    bool fail(std::string reason);
    bool failErrno(int err);
    bool resolveTarget();
    void removeStaleTemporaries();
    bool createTemporary();
    bool linkUnnamed();

    std::string target_;
    Options options_;
    std::string dir_; // the folder of the file finally written, after links, for messages
    std::string name_; // its name in that folder
    std::string tempName_;
    std::string reason_;
    int dirFd_ = -1;
    int fd_ = -1;
    bool existing_ = false;
    mode_t existingMode_ = 0;
    uid_t existingUid_ = 0;
    gid_t existingGid_ = 0;
    bool isUnnamed_ = false;
};

// The whole file at once. error receives the reason (without the path).
bool replaceFileAtomically(
    const std::string& target, std::string_view bytes, std::string* error, AtomicFile::Options options = {});

} // namespace melodex
