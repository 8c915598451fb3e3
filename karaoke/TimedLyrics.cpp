#include "TimedLyrics.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace karaoke {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return s;
}

}  // namespace

double LyricLine::endMs() const {
  double end = syllables.front().endMs;
  for (const Syllable& s : syllables) end = std::max(end, s.endMs);
  return end;
}

std::string LyricLine::text() const {
  std::string t;
  for (const Syllable& s : syllables) t += s.text;
  return t;
}

std::optional<std::filesystem::path> findBeside(const std::filesystem::path& song,
                                                const std::vector<std::string>& extensions) {
  namespace fs = std::filesystem;
  const fs::path folder = song.has_parent_path() ? song.parent_path() : fs::path(".");
  const std::string stem = song.stem().string();
  std::error_code ec;
  for (const std::string& ext : extensions) {
    const fs::path exact = folder / (stem + ext);
    if (exact != song && fs::is_regular_file(exact, ec)) return exact;
  }
  std::vector<fs::path> found;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path p = it->path();
    if (lower(p.stem().string()) != lower(stem) || p.filename() == song.filename()) continue;
    const std::string ext = lower(p.extension().string());
    if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) continue;
    std::error_code e;
    if (fs::is_regular_file(p, e)) found.push_back(p);
  }
  if (found.empty()) return std::nullopt;
  // The extensions are tried in the order asked, then by name.
  std::sort(found.begin(), found.end(), [&](const fs::path& a, const fs::path& b) {
    const auto rank = [&](const fs::path& p) {
      return std::find(extensions.begin(), extensions.end(), lower(p.extension().string())) -
             extensions.begin();
    };
    return rank(a) != rank(b) ? rank(a) < rank(b) : a.filename() < b.filename();
  });
  return found.front();
}

std::optional<std::vector<uint8_t>> readRegularFile(const std::filesystem::path& path,
                                                    size_t maxBytes, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto fail = [&](const std::string& why) -> std::optional<std::vector<uint8_t>> {
    if (error) *error = path.string() + ": " + why;
    return std::nullopt;
  };
  if (!fs::is_regular_file(path, ec)) return fail(ec ? ec.message() : "not a regular file");
  const auto size = fs::file_size(path, ec);
  if (ec) return fail(ec.message());
  if (size > maxBytes) return fail("larger than " + std::to_string(maxBytes) + " bytes");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot be opened");
  std::vector<uint8_t> bytes(size);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
  bytes.resize(size_t(in.gcount()));
  if (in.bad()) return fail("read error");
  return bytes;
}

}  // namespace karaoke
