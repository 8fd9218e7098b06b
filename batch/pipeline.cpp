#include "batch/pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "batch/files.h"
#include "platform/sha256.h"
#include "core/line_reader.h"

namespace velmora {

unsigned BatchThreads(unsigned requested) {
  if (requested > 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

void BatchPassStarted(BatchProgress* progress, BatchPhase phase, std::uint64_t bytesTotal) {
  if (progress == nullptr) return;
  progress->lines_.store(0, std::memory_order_relaxed);
  progress->bytesRead_.store(0, std::memory_order_relaxed);
  progress->bytesTotal_.store(bytesTotal, std::memory_order_relaxed);
  progress->phase_.store(phase, std::memory_order_relaxed);
}

bool BatchPassEnded(BatchProgress* progress, std::uint64_t bytesRead) {
  if (progress == nullptr) return true;
  progress->bytesRead_.store(bytesRead, std::memory_order_relaxed);
  return progress->Ask();
}

namespace batch {

void Buffer::Grow(std::size_t capacity) {
  std::unique_ptr<char[]> bigger(new char[capacity]);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

void Buffer::Append(const char* bytes, std::size_t size) {
  if (size == 0) return;
  std::memcpy(Reserve(size), bytes, size);
  size_ += size;
}

void Buffer::Release() {
  data_.reset();
  size_ = capacity_ = 0;
}

namespace {

// The last CR or LF in [from, to), or `to`. A chunk mostly ends a line's
// length after one; a long line has none, which the fast forward scan shows.
std::size_t LastTerminator(const char* base, std::size_t from, std::size_t to) {
  constexpr std::size_t kNear = 512;
  std::size_t i = to;
  for (; i > from && to - i < kNear; --i) {
    if (base[i - 1] == '\n' || base[i - 1] == '\r') return i - 1;
  }
  if (i == from || FindTerminator(base, from, i) == i) return to;
  for (; i > from; --i) {
    if (base[i - 1] == '\n' || base[i - 1] == '\r') return i - 1;
  }
  return to;
}

}  // namespace

ChunkReader::ChunkReader(InputFile& file, std::size_t chunkBytes, std::size_t maxLine)
    : file_(file), chunkBytes_(std::max<std::size_t>(chunkBytes, 1)), maxLine_(maxLine) {}

std::ptrdiff_t ChunkReader::Read(char* into, std::size_t size) {
  const std::ptrdiff_t got = file_.Read(into, size);
  if (got > 0) {
    const auto bytes = static_cast<std::uint64_t>(got);
    for (std::uint64_t i = consumed_; i < sizeof lead_ && i < consumed_ + bytes; ++i) {
      lead_[i] = static_cast<unsigned char>(into[i - consumed_]);
    }
    if (digest_ != nullptr) digest_->Update(into, static_cast<std::size_t>(got));
    consumed_ += bytes;
  }
  return got;
}

bool ChunkReader::StartsWithByteOrderMark() const {
  return consumed_ >= 3 && lead_[0] == 0xEF && lead_[1] == 0xBB && lead_[2] == 0xBF;
}

ChunkReader::Status ChunkReader::ReadHeader(Buffer* header) {
  bool any = false;
  if (header != nullptr) header->clear();
  for (;;) {
    carry_.clear();
    char* buffer = carry_.Reserve(chunkBytes_);
    const std::ptrdiff_t got = Read(buffer, chunkBytes_);
    if (got < 0) {
      failed_ = true;
      return Status::ReadFailed;
    }
    if (got == 0) {
      end_ = true;
      return any ? Status::Chunk : Status::End;
    }
    any = true;
    const auto size = static_cast<std::size_t>(got);
    const std::size_t end = FindTerminator(buffer, 0, size);
    if (header != nullptr) {
      if (end > maxLine_ - header->size()) return Status::LineTooLong;
      try {
        header->Append(buffer, end);
      } catch (const std::bad_alloc&) {
        return Status::LineTooLong;
      }
    }
    if (end == size) continue;  // nothing of a long header is kept unless asked
    std::size_t next = end + 1;
    if (buffer[end] == '\r') {
      if (next == size) {
        dropLineFeed_ = true;
      } else if (buffer[next] == '\n') {
        ++next;
      }
    }
    std::memmove(buffer, buffer + next, size - next);
    carry_.resize(size - next);
    return Status::Chunk;
  }
}

ChunkReader::Status ChunkReader::Next(Chunk& chunk) {
  if (failed_) return Status::ReadFailed;
  Buffer& text = chunk.text;
  text.clear();
  std::size_t limit = chunkBytes_;
  try {
    text.Append(carry_.data(), carry_.size());
    carry_.clear();
    if (text.size() >= limit) limit = text.size() + chunkBytes_;
    std::size_t searched = 0;  // text before this holds no terminator
    for (;;) {
      while (!end_ && !failed_ && text.size() < limit) {
        char* into = text.ReserveExactly(limit);
        std::ptrdiff_t got = Read(into, limit - text.size());
        if (got < 0) {
          failed_ = true;
        } else if (got == 0) {
          end_ = true;
        } else {
          if (dropLineFeed_) {
            dropLineFeed_ = false;
            if (into[0] == '\n') std::memmove(into, into + 1, static_cast<std::size_t>(--got));
          }
          text.Advance(static_cast<std::size_t>(got));
        }
      }
      const std::size_t last = LastTerminator(text.data(), searched, text.size());
      if (last != text.size()) {
        // Whole lines go; the start of the next line waits for the next chunk,
        // unless the file has ended and it is the last line.
        if (!end_ || failed_) {
          carry_.Append(text.data() + last + 1, text.size() - last - 1);
          text.resize(last + 1);
          dropLineFeed_ = text.data()[last] == '\r' && carry_.size() == 0;
        }
        return Status::Chunk;
      }
      // One line, not ended yet.
      if (failed_) return Status::ReadFailed;
      if (end_) {
        return text.size() == 0 ? Status::End : Status::Chunk;
      }
      if (text.size() > maxLine_) return Status::LineTooLong;
      searched = text.size();
      // A chunk's length more at a time, so that the chunk ends soon after the
      // line, never more than one byte past the longest line allowed.
      limit = std::min(text.size() + chunkBytes_, maxLine_ + 1);
      const std::uint64_t total = file_.bytesTotal();
      const std::uint64_t rest = total > consumed_ ? total - consumed_ : 0;
      // The rest of the file fits in the room there is: the end will show.
      if (limit > text.capacity() && text.size() + rest < text.capacity()) limit = text.capacity();
      if (limit > text.capacity()) {
        // Twice the room; a line past a few chunks gets room for the rest of
        // the file at once (memory is touched only as the line is read, and
        // the line is not copied again).
        std::uint64_t room = std::max<std::uint64_t>(limit, 2 * text.capacity());
        if (text.size() >= 4 * chunkBytes_) room = std::max<std::uint64_t>(room, text.size() + rest + 1);
        text.ReserveExactly(static_cast<std::size_t>(std::min<std::uint64_t>(room, maxLine_ + 1)));
      }
    }
  } catch (const std::bad_alloc&) {
    // A line that does not fit in memory is refused like any over-long line.
    text.Release();
    return Status::LineTooLong;
  }
}

PipelineEnd RunPipeline(ChunkReader& reader, unsigned threads, const std::function<void(Chunk&)>& work,
                        const std::function<bool(const Chunk&)>& deliver, BatchProgress* progress,
                        std::exception_ptr* error, std::size_t bytesInFlight) {
  Pipeline pipeline(reader, threads, work, deliver, progress, bytesInFlight);
  const PipelineEnd end = pipeline.Run();
  if (error != nullptr) *error = pipeline.error();
  return end;
}

Pipeline::Pipeline(ChunkReader& reader, unsigned threads, const std::function<void(Chunk&)>& work,
                   const std::function<bool(const Chunk&)>& deliver, BatchProgress* progress,
                   std::size_t bytesInFlight)
    : reader_(reader),
      threads_(std::max(threads, 1u)),
      work_(work),
      deliver_(deliver),
      progress_(progress),
      bytesInFlight_(bytesInFlight) {
  // Two chunks per thread: one being worked on, one done and waiting for an
  // earlier one, so that no thread waits for long. One thread needs one.
  const std::size_t count = threads_ == 1 ? 1 : 2 * std::size_t{threads_};
  for (std::size_t i = 0; i < count; ++i) {
    chunks_.push_back(std::make_unique<Chunk>());
    free_.push_back(chunks_.back().get());
  }
  done_.assign(count, nullptr);
}

PipelineEnd Pipeline::Run() {
  // A cancel from any thread wakes every waiting worker at once; one that came
  // before stops the pass before its first chunk.
  auto cancel = [this] { Stop(PipelineEnd::Cancelled); };
  std::optional<std::stop_callback<decltype(cancel)>> onCancel;
  if (progress_ != nullptr) onCancel.emplace(progress_->stopToken(), cancel);
  {
    // Room for every helper before the first starts: growing the list later
    // could fail with helpers already running.
    std::vector<std::jthread> helpers;
    try {
      helpers.reserve(threads_ - 1);
    } catch (const std::bad_alloc&) {
    }
    for (unsigned i = 1; i < threads_ && helpers.size() < helpers.capacity(); ++i) {
      try {
        helpers.emplace_back([this] { Work(false); });
      } catch (const std::exception&) {
        break;  // the system gives no more threads: the ones there do the work
      }
    }
    Work(true);
  }  // every helper has ended here
  onCancel.reset();
  std::lock_guard lock(mutex_);
  return stopped_ ? stopReason_ : inputEnd_;
}

void Pipeline::Work(bool callingThread) {
  for (;;) {
    Chunk* chunk = Acquire();
    if (chunk == nullptr) return;
    chunk->block.clear();
    chunk->lines = 0;
    chunk->firstBadLine = kNoLine;
    chunk->firstForeignLine = kNoLine;
    chunk->found = 0;
    try {
      work_(*chunk);
    } catch (...) {
      Fail(std::current_exception());
    }
    Complete(chunk);
    if (callingThread && progress_ != nullptr) {
      try {
        if (!progress_->Ask()) return;  // the stop callback tells the others
      } catch (...) {
        Fail(std::current_exception());
        return;
      }
    }
  }
}

Chunk* Pipeline::Acquire() {
  Chunk* chunk = nullptr;
  {
    std::unique_lock lock(mutex_);
    chunkFreed_.wait(lock, stop_.get_token(), [this] { return !free_.empty() || inputEnded_; });
    if (stop_.stop_requested() || inputEnded_) return nullptr;
    chunk = free_.back();
    free_.pop_back();
  }
  // Reading needs no lock but the reader's: others deliver meanwhile.
  ChunkReader::Status status = ChunkReader::Status::End;
  std::exception_ptr error;
  {
    std::lock_guard lock(readMutex_);
    if (!inputDone_) {
      // The bound on memory: while the chunks in flight hold the budget, the
      // next is read only once some are delivered (the earliest is always
      // being worked on or delivered, so this cannot wait for ever).
      std::unique_lock budget(mutex_);
      chunkFreed_.wait(budget, stop_.get_token(),
                       [this] { return textInFlight_ < bytesInFlight_ || textInFlight_ == 0; });
      if (stop_.stop_requested()) {
        free_.push_back(chunk);
        return nullptr;
      }
    }
    if (inputDone_) {
      status = inputStatus_;  // whoever comes later learns how the input ended
    } else {
      try {
        status = reader_.Next(*chunk);
      } catch (...) {
        // Not the file: something under the reading (the digest) failed.
        error = std::current_exception();
        status = ChunkReader::Status::ReadFailed;
      }
      if (status == ChunkReader::Status::Chunk) {
        {
          std::lock_guard counted(mutex_);
          textInFlight_ += chunk->text.size();
        }
        chunk->sequence = nextSequence_++;
        if (progress_ != nullptr) progress_->bytesRead_.store(reader_.consumed(), std::memory_order_relaxed);
      } else {
        inputDone_ = true;
        inputStatus_ = status;
      }
    }
  }
  if (status == ChunkReader::Status::Chunk) return chunk;
  if (error) Fail(error);
  std::lock_guard lock(mutex_);
  free_.push_back(chunk);
  inputEnded_ = true;
  if (status == ChunkReader::Status::ReadFailed) inputEnd_ = PipelineEnd::ReadFailed;
  if (status == ChunkReader::Status::LineTooLong) inputEnd_ = PipelineEnd::LineTooLong;
  chunkFreed_.notify_all();
  return nullptr;
}

// Whoever completes the next chunk in input order delivers it, and every
// chunk done after it that is waiting; the others go back to work.
void Pipeline::Complete(Chunk* chunk) {
  std::unique_lock lock(mutex_);
  const std::size_t count = done_.size();
  done_[chunk->sequence % count] = chunk;
  if (delivering_) return;
  delivering_ = true;
  for (;;) {
    Chunk* next = done_[nextDelivery_ % count];
    if (next == nullptr || next->sequence != nextDelivery_) break;
    done_[nextDelivery_ % count] = nullptr;
    const bool skip = stopped_;
    lock.unlock();
    bool goOn = true;
    if (!skip) {
      try {
        goOn = deliver_(*next);
      } catch (...) {
        Fail(std::current_exception());
        goOn = false;
      }
      if (progress_ != nullptr) progress_->lines_.fetch_add(next->lines, std::memory_order_relaxed);
    }
    // A chunk grown for a long line gives its memory back.
    const std::size_t text = next->text.size();
    const std::size_t usual = reader_.chunkBytes();
    if (next->text.capacity() > 4 * usual) next->text.Release();
    if (next->block.capacity() > 8 * usual + 8192) next->block.Release();
    lock.lock();
    ++nextDelivery_;
    textInFlight_ -= text;
    free_.push_back(next);
    // Threads wait for a free chunk, and the reader for the budget.
    chunkFreed_.notify_all();
    if (!goOn && !stopped_) {
      stopped_ = true;
      stopReason_ = PipelineEnd::Stopped;
      stop_.request_stop();
    }
  }
  delivering_ = false;
}

void Pipeline::Fail(std::exception_ptr error) {
  {
    std::lock_guard lock(mutex_);
    if (!error_) error_ = std::move(error);
  }
  Stop(PipelineEnd::Failed);
}

void Pipeline::Stop(PipelineEnd why) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  stopped_ = true;
  stopReason_ = why;
  stop_.request_stop();
}

}  // namespace batch
}  // namespace velmora
