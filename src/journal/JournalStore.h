#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/PixelBuffer.h"
#include "journal/Incident.h"
#include "system/PrivateFolder.h"

namespace tovak::journal {

// The journal on disk: one JSON line per incident (JournalLine) in one file, the visitors' pictures
// as PNG files beside it. Only its owner can read any of it: the folder is 0700 and every file
// 0600 whatever the umask, and modes found looser are tightened; files are opened from the folder's
// descriptor, never through a link, and another account's file is refused. Lines are only ever
// appended, each written whole and flushed to the disk; the file is rewritten only to drop entries
// that expired or lines that were damaged, after a read that got to its end, and under the file's
// lock, which every writer (a second Tovak, a headless run on the same file) takes. Expiry and
// clearing remove only names this class writes. Failures are answered as values, never thrown.
// One thread at a time.
class JournalStore {
  public:
    static constexpr double keepSeconds = 30.0 * 24 * 3600;
    static constexpr const char* defaultFileName = "journal.jsonl";

    // Whose folder it is: the program's own state folder is made private; the folder of a file the
    // user named is made when missing but otherwise left as it is.
    enum class Folder { owned, shared };

    JournalStore(std::string folder, std::string fileName = defaultFileName, Folder folderKind = Folder::owned);

    // $XDG_STATE_HOME/tovak, or ~/.local/state/tovak when that is not set (or not absolute).
    [[nodiscard]] static std::string defaultFolder();

    [[nodiscard]] const std::string& folder() const { return folder_; }
    [[nodiscard]] std::string journalPath() const { return folder_ + "/" + fileName_; }
    [[nodiscard]] bool exists() const;

    // Makes the folder (and the file) with their private modes, or tightens them; false when it
    // cannot be done.
    bool prepare();

    struct Loaded {
        // Oldest first, as written.
        std::vector<Incident> incidents;
        // Lines that were not whole entries (a truncated last line, a damaged one): passed over.
        std::size_t skipped = 0;
        // Entries and pictures older than keepSeconds, removed.
        std::size_t expired = 0;
        // False when the file exists but could not be read, or the expired ones not removed.
        bool ok = true;
        // False when the file could not be read to its end: the whole lines before are loaded and
        // nothing is rewritten.
        bool whole = true;
    };
    // Reads the journal, first removing what is older than keepSeconds before now (calendar
    // seconds). Missing is empty.
    [[nodiscard]] Loaded load(double now);
    // The entries of a journal's text, those older than cutoff counted as expired; kept gets the
    // lines worth keeping, as they were written.
    [[nodiscard]] static Loaded readLines(std::string_view text, double cutoff, std::string* kept = nullptr);

    // Appends one entry; false when it did not reach the disk whole.
    bool append(const Incident& incident);
    // Saves a visitor's picture as PNG beside the journal; its file name, none on failure.
    [[nodiscard]] std::optional<std::string> savePicture(double start, const imaging::PixelBuffer& picture);
    // A saved picture's PNG bytes, read from the folder's descriptor; none for a name savePicture
    // does not write, a link, or a file that is not this user's own.
    [[nodiscard]] std::optional<std::string> readPicture(const std::string& name) const;
    // Removes the journal and every picture; false when something could not be removed.
    bool clear();

    // The calendar seconds in a picture's name when it is exactly a name savePicture writes
    // (visit-<milliseconds>.png, visit-<milliseconds>-<2 to 99>.png); none for any other.
    [[nodiscard]] static std::optional<double> pictureTime(std::string_view name);

  private:
    [[nodiscard]] std::optional<system::PrivateFolder> openFolder() const;
    [[nodiscard]] system::PrivateFolder::Accept accepts() const;
    // The journal opened and locked as it is named now; one replaced or removed while this waited
    // for its lock is opened afresh.
    [[nodiscard]] system::FileDescriptor openLocked(const system::PrivateFolder& folder, int flags) const;
    void expirePictures(const system::PrivateFolder& folder, double cutoff, Loaded& loaded) const;
    bool rewrite(const system::PrivateFolder& folder, const std::string& kept) const;

    std::string folder_;
    std::string fileName_;
    Folder folderKind_;
};

}  // namespace tovak::journal
