#include "batch/files.h"

#include <atomic>
#include <chrono>
#include <string>
#include <system_error>
#include <vector>

namespace velmora::batch {
namespace fs = std::filesystem;

std::optional<std::pair<std::size_t, std::size_t>> FindSharedFile(std::span<const RunFile> files) {
  std::vector<platform::FileIdentity> ids;
  std::vector<fs::path> spelt;  // for files nothing is known of: the path itself, made absolute
  for (const RunFile& file : files) {
    ids.push_back(platform::IdentifyFile(file.path));
    std::error_code ec;
    fs::path absolute = fs::absolute(file.path, ec);
    spelt.push_back((ec ? file.path : absolute).lexically_normal());
  }
  for (std::size_t b = 1; b < files.size(); ++b) {
    for (std::size_t a = 0; a < b; ++a) {
      if (!files[a].written && !files[b].written) continue;
      if (files[a].path.empty() || files[b].path.empty()) continue;
      const bool same = files[a].path.native() == files[b].path.native() ||
                        platform::SameIdentity(ids[a], ids[b]) ||
                        (!ids[a].known && !ids[b].known && spelt[a] == spelt[b]);
      if (same) return std::pair{a, b};
    }
  }
  return std::nullopt;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  return a.native() == b.native() || platform::SameFile(a, b);
}

fs::path Absolute(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute;
}

void InputFile::Close() {
  if (file_ != platform::kNoFile) platform::Close(file_);
  file_ = platform::kNoFile;
}

bool InputFile::Open(const fs::path& path) {
  Close();
  // The batch reads its input twice (check, then run), which only a regular
  // file allows: a pipe would be empty the second time.
  file_ = platform::OpenInput(path, bytesTotal_);
  return file_ != platform::kNoFile;
}

std::ptrdiff_t InputFile::Read(char* into, std::size_t size) { return platform::Read(file_, into, size); }

bool ResultFile::Create(const fs::path& output) {
  Discard();
  platform::OutputPlace place;
  if (!platform::FindOutputPlace(output, place) || place.target.filename().empty()) return false;

  const fs::path folder = place.target.parent_path().empty() ? fs::path(".") : place.target.parent_path();
  static std::atomic<unsigned> counter{0};
  const auto seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100 && file_ == platform::kNoFile; ++attempt) {
    // Not derived from the output's name: a name near the 255-character
    // limit would leave no room for a suffix.
    std::string name(".velmora-");
    name += std::to_string(platform::ProcessId());
    name += '-';
    name += std::to_string((seed + ++counter * 7919ULL) % 1000000007ULL);
    name += ".tmp";
    const fs::path candidate = folder / name;
    bool taken = false;
    file_ = platform::CreateNew(candidate, taken);
    if (file_ != platform::kNoFile) {
      temp_ = candidate;
    } else if (!taken) {
      return false;
    }
  }
  if (file_ == platform::kNoFile) return false;
  platform::KeepAttributes(file_, place);
  target_ = place.target;
  failed_ = false;
  finished_ = false;
  written_ = writtenBack_ = 0;
  return true;
}

bool ResultFile::Write(const char* data, std::size_t size) {
  if (failed_) return false;
  if (!platform::Write(file_, data, size)) {
    failed_ = true;
    return false;
  }
  written_ += size;
  // Start the disk on every few MiB now, while the threads compute, so that
  // the flush at the end (which no thread can share) has little left to do.
  constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;
  if (written_ - writtenBack_ >= kWriteBackStep) {
    platform::StartWriteBack(file_, writtenBack_, written_ - writtenBack_);
    writtenBack_ = written_;
  }
  return true;
}

bool ResultFile::Finish() {
  if (file_ == platform::kNoFile) return finished_;
  // A full disk may only show when the data reaches it.
  if (!failed_ && !platform::FlushToDisk(file_)) failed_ = true;
  if (!platform::Close(file_)) failed_ = true;
  file_ = platform::kNoFile;
  if (failed_) {
    Discard();
    return false;
  }
  finished_ = true;
  return true;
}

bool ResultFile::Commit() {
  if (!finished_ && !Finish()) return false;
  if (!platform::Replace(temp_, target_)) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

void ResultFile::Discard() {
  if (file_ != platform::kNoFile) {
    platform::Close(file_);
    file_ = platform::kNoFile;
  }
  finished_ = false;
  if (!temp_.empty()) {
    platform::Remove(temp_);
    temp_.clear();
  }
}

}  // namespace velmora::batch
