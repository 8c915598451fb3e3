#include "SongPackage.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "TimedLyrics.h"

namespace karaoke {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return s;
}

using Archive = std::unique_ptr<archive, decltype(&archive_read_free)>;

Archive openZip(const fs::path& path) {
  Archive a(archive_read_new(), &archive_read_free);
  if (!a) return a;
  // Both zip readers: the one of the central directory (sizes a streaming writer leaves out of
  // the local headers) wins over the one of the local headers wherever it can read the file.
  archive_read_support_format_zip(a.get());
  if (archive_read_open_filename(a.get(), path.c_str(), 65536) != ARCHIVE_OK) a.reset();
  return a;
}

// An entry name that stays inside the archive: relative, no "..", no drive or backslash.
bool safeName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
      name.find(':') != std::string::npos)
    return false;
  for (const auto& part : fs::path(name))
    if (part == "..") return false;
  return true;
}

struct Candidate {
  size_t index;
  std::string name;
};

// Reads the current entry's data into `sink`, at most `limit` bytes; false when it is larger or
// cannot be read.
bool readEntry(archive* a, uint64_t limit, const std::function<bool(const char*, size_t)>& sink,
               std::string* why) {
  char buf[65536];
  uint64_t total = 0;
  for (;;) {
    const la_ssize_t n = archive_read_data(a, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      *why = archive_error_string(a) ? archive_error_string(a) : "read error";
      return false;
    }
    total += uint64_t(n);
    if (total > limit) {
      *why = "larger than " + std::to_string(limit >> 20) + " MiB";
      return false;
    }
    if (!sink(buf, size_t(n))) {
      *why = "cannot write the extracted file";
      return false;
    }
  }
}

std::optional<SongPackage> openZipPackage(const fs::path& path, const fs::path& cacheFolder,
                                          std::string* error) {
  const auto fail = [&](const std::string& why) -> std::optional<SongPackage> {
    *error = path.string() + ": " + why;
    return std::nullopt;
  };
  // First the names, then the two entries chosen: a zip is read as a stream.
  std::vector<Candidate> mp3s, cdgs;
  {
    Archive a = openZip(path);
    if (!a) return fail("not a zip archive");
    archive_entry* entry = nullptr;
    size_t index = 0;
    int rc;
    while ((rc = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK) {
      if (index >= kMaxPackageEntries)
        return fail("more than " + std::to_string(kMaxPackageEntries) + " entries");
      const char* raw = archive_entry_pathname(entry);
      const std::string name = raw ? raw : "";
      if (archive_entry_filetype(entry) == AE_IFREG && safeName(name)) {
        const fs::path p(name);
        const std::string ext = lower(p.extension().string());
        const std::string key = lower((p.parent_path() / p.stem()).string());
        if (ext == ".mp3") mp3s.push_back({index, key});
        if (ext == ".cdg") cdgs.push_back({index, key});
      }
      ++index;
    }
    if (rc != ARCHIVE_EOF) return fail("not a readable zip archive");
  }
  std::optional<std::pair<size_t, size_t>> pair;
  for (const Candidate& m : mp3s) {
    for (const Candidate& c : cdgs)
      if (m.name == c.name) {
        pair = {m.index, c.index};
        break;
      }
    if (pair) break;
  }
  if (!pair) return fail("the zip holds no MP3 and CD+G pair with the same name");

  SongPackage song;
  std::error_code ec;
  Archive a = openZip(path);
  if (!a) return fail("not a zip archive");
  const fs::path target =
      cacheFolder.empty()
          ? fs::path{}
          : cacheFolder /
                (path.stem().string() + "-" +
                 std::to_string(std::hash<std::string>{}(fs::absolute(path, ec).string())) +
                 ".mp3");
  archive_entry* entry = nullptr;
  for (size_t index = 0; archive_read_next_header(a.get(), &entry) == ARCHIVE_OK; ++index) {
    std::string why;
    if (index == pair->second) {
      if (!readEntry(
              a.get(), kMaxPackageCdgBytes,
              [&](const char* d, size_t n) {
                song.cdg.insert(song.cdg.end(), d, d + n);
                return true;
              },
              &why))
        return fail("its CD+G: " + why);
    } else if (index == pair->first && !target.empty()) {
      fs::create_directories(cacheFolder, ec);
      const fs::path part = target.string() + ".part";
      std::ofstream out(part, std::ios::binary | std::ios::trunc);
      if (!out) return fail("cannot write " + part.string());
      const bool ok = readEntry(
          a.get(), kMaxPackageMp3Bytes,
          [&](const char* d, size_t n) { return bool(out.write(d, std::streamsize(n))); }, &why);
      out.close();
      if (!ok || !out) {
        fs::remove(part, ec);
        return fail("its MP3: " + (why.empty() ? "cannot write " + part.string() : why));
      }
      fs::rename(part, target, ec);
      if (ec) return fail("cannot write " + target.string() + ": " + ec.message());
      song.audio = target;
    }
    if (index >= std::max(pair->first, pair->second)) break;
  }
  return song;
}

}  // namespace

bool isSongPackage(const fs::path& path) {
  const std::string ext = lower(path.extension().string());
  if (ext == ".zip") return true;
  if (ext == ".mp3") return findBeside(path, {".cdg"}).has_value();
  if (ext == ".cdg") return findBeside(path, {".mp3"}).has_value();
  return false;
}

std::optional<SongPackage> openSongPackage(const fs::path& path, const fs::path& cacheFolder,
                                           std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::error_code ec;
  // A pipe or a device is never opened: reading it could block for ever.
  if (!fs::is_regular_file(path, ec)) {
    *error = path.string() + ": " + (ec ? ec.message() : "not a regular file");
    return std::nullopt;
  }
  const std::string ext = lower(path.extension().string());
  if (ext == ".zip") return openZipPackage(path, cacheFolder, error);
  std::optional<fs::path> audio, cdg;
  if (ext == ".mp3") {
    audio = path;
    cdg = findBeside(path, {".cdg"});
    if (!cdg) *error = path.string() + ": no CD+G file of the same name beside it";
  } else if (ext == ".cdg") {
    cdg = path;
    audio = findBeside(path, {".mp3"});
    if (!audio) *error = path.string() + ": no MP3 file of the same name beside it";
  } else {
    *error = path.string() + ": not a zip, MP3 or CD+G file";
  }
  if (!audio || !cdg) return std::nullopt;
  auto bytes = readRegularFile(*cdg, kMaxPackageCdgBytes, error);
  if (!bytes) return std::nullopt;
  return SongPackage{*audio, std::move(*bytes)};
}

}  // namespace karaoke
