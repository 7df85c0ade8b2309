// The served file store: a folder on disk seen through MMS file names, and
// the COMTRADE recorder that adds recordings to it.
//
// Names: components joined by "/", relative to the root; a leading "/" is
// ignored. "." and ".." components, empty components, control characters and
// names over kMaxFileName bytes are refused (filename-syntax-error).
//
// Recordings: <record dir>/<IED>_<yyyymmddhhmmssmmm>.cfg and .dat (COMTRADE
// 1999, ASCII), and the .hdr / .inf texts when asked for. The part before the
// last "_" names the series (the IED), the part after it is the trigger time
// (UTC); the files' modification time is the trigger time too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv::iedsim {

constexpr size_t kMaxFileName = 255;              // AC_FILE_ATTR.file_name holds 256 bytes with the NUL
constexpr uint64_t kMaxObtainedFile = 64u << 20;  // largest file a client may push with ObtainFile

struct FileEntry {
    std::string name;  // as listed (prefixed like the directory asked for)
    uint64_t size = 0;
    int64_t mtime = 0;     // seconds since the epoch
    uint32_t mtimeNs = 0;  // and the nanoseconds of that second
};

// MMS GeneralizedTime text of a time: "YYYYMMDDhhmmss.000Z".
std::string generalizedTime(int64_t secs);

// How the device writes the last-modified time of its files (FileDirectory
// and FileOpen answers). Devices differ:
//   Millis   20261207123456.000Z   (the default)
//   Fraction 20261207123456.789Z   milliseconds of the modification time
//   Zulu     20261207123456Z
//   Offset   20261207203456+0800   local time of offsetMinutes east of UTC
//   NoZone   20261207123456        UTC digits without a zone
//   None     no lastModified at all
struct FileTimes {
    enum Form { Millis, Fraction, Zulu, Offset, NoZone, None } form = Millis;
    int offsetMinutes = 8 * 60;  // Offset only; -23:59 .. +23:59
};
// Parses fraction|zulu|offset|offset+HHMM|offset-HHMM|nozone|none|millis.
bool parseFileTimes(const std::string& text, FileTimes& out);
// The lastModified text of a file in that form; nullopt for None.
std::optional<std::string> fileTimeText(const FileEntry& e, const FileTimes& how);

// "故障录波" (disturbance recording) in GB18030 bytes: recordings of a device
// with GB18030 names are <IED>故障录波_<time>.cfg|.dat.
constexpr const char* kGb18030RecordingTag = "\xB9\xCA\xD5\xCF\xC2\xBC\xB2\xA8";

// The files a recording is made of, from a list such as "cfg,dat,hdr": each
// of cfg, dat, hdr, inf at most once, in lower or upper case (the extension
// is written as given), dat among them. False with a reason otherwise.
bool parseRecordParts(const std::string& text, std::vector<std::string>& parts, std::string& why);

class FileStore {
public:
    // `root` must exist or be creatable.
    bool open(const std::string& root, std::string& why);
    const std::string& root() const { return root_; }

    // Relative path of an MMS file name, or nullopt when the name is refused.
    static std::optional<std::string> relativePath(const std::vector<std::string>& name);

    // Directory listing (ISO 9506-2 FileDirectory): no name or "/" lists every
    // file below the root (relative names); a folder lists its files with the
    // folder (as written) in front; a file lists itself; '*' and '?' in the
    // last component match like a shell. Sorted by name. False when nothing
    // of that name exists.
    bool list(const std::string& what, std::vector<FileEntry>& out) const;

    // Attributes of a regular file; false when absent or not a regular file.
    bool stat(const std::string& rel, FileEntry& out) const;
    std::string fullPath(const std::string& rel) const { return root_ + "/" + rel; }
    // Removes a regular file; false with errno set.
    bool remove(const std::string& rel) const;
    // Writes a whole file (creating folders); false with a reason.
    bool write(const std::string& rel, const std::vector<uint8_t>& data, std::string& why) const;

    // Writes a COMTRADE recording triggered at `epochMs` and named
    // <series>_<time>.<part>, one file per entry of `parts` (extensions as
    // given: cfg, dat, hdr, inf in either case; see parseRecordParts);
    // returns the relative names in the order of `parts`. `seq` varies the
    // waveform.
    bool addRecording(const std::string& recordDir, const std::string& ied, const std::string& series, int64_t epochMs,
                      uint64_t seq, std::vector<std::string>& names, std::string& why,
                      const std::vector<std::string>& parts = {"cfg", "dat"}) const;

private:
    std::string root_;
};

}  // namespace zv::iedsim
