#pragma once
// The engine under the check and the run. The input is cut into chunks of
// whole lines; several threads turn chunks into blocks; the blocks are handed
// on one at a time, in input order. A fixed number of chunks is in memory at
// once, however long the file. Standard C++ only: the file itself is reached
// through batch/files.h.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

#include "batch/progress.h"

namespace velmora {
class Sha256;
}

namespace velmora::batch {

class InputFile;

// Bytes with room to grow; growing keeps them, nothing is cleared.
class Buffer {
 public:
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  void clear() { size_ = 0; }
  void resize(std::size_t size) { size_ = size; }  // at most capacity()
  // Room for `more` bytes after the used ones (may throw std::bad_alloc).
  char* Reserve(std::size_t more) {
    if (more > capacity_ - size_) Grow(std::max(size_ + more, capacity_ + capacity_ / 2));
    return data_.get() + size_;
  }
  // Room for `capacity` bytes in all, not more (a long line's memory is capped).
  char* ReserveExactly(std::size_t capacity) {
    if (capacity > capacity_) Grow(capacity);
    return data_.get() + size_;
  }
  void Advance(std::size_t size) { size_ += size; }
  void Append(const char* bytes, std::size_t size);
  void Release();

 private:
  void Grow(std::size_t capacity);
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

inline constexpr std::uint64_t kNoLine = std::numeric_limits<std::uint64_t>::max();

// A piece of the input and what a worker made of it.
struct Chunk {
  std::uint64_t sequence = 0;
  // Whole lines; only the file's last line may lack its terminator. A LF
  // that ends the CR at the end of the previous chunk is not part of it.
  Buffer text;
  // Filled by the work.
  Buffer block;
  std::uint64_t lines = 0;
  std::uint64_t firstBadLine = kNoLine;  // index within the chunk
  int badReason = 0;                     // what the work found wrong with it
  std::uint64_t firstForeignLine = kNoLine;  // index within the chunk: the first of note that stops nothing
  unsigned found = 0;                        // what the work found in the chunk's bytes (its own flags)
};

// Cuts the input into a header and chunks. Used by one thread at a time.
class ChunkReader {
 public:
  enum class Status { Chunk, End, ReadFailed, LineTooLong };

  ChunkReader(InputFile& file, std::size_t chunkBytes, std::size_t maxLine);
  // Reads the header; End when the file is empty. Without `header` it passes
  // over it, whatever its length, without holding it; with it, it keeps the
  // header's bytes (without its terminator) there, and LineTooLong when it is
  // longer than `maxLine`.
  Status ReadHeader(Buffer* header);
  // Whether the file's first bytes are the UTF-8 byte order mark (known once
  // the header has been read).
  bool StartsWithByteOrderMark() const;
  // Every byte taken from the file from now on goes into `digest` as well,
  // in file order.
  void HashInto(Sha256* digest) { digest_ = digest; }
  // The next chunk; LineTooLong for a line of more than `maxLine` bytes.
  // Complete lines before a read error come first, the error after them.
  Status Next(Chunk& chunk);
  // Bytes taken from the file so far.
  std::uint64_t consumed() const { return consumed_; }
  std::size_t chunkBytes() const { return chunkBytes_; }

 private:
  std::ptrdiff_t Read(char* into, std::size_t size);

  InputFile& file_;
  std::size_t chunkBytes_;
  std::size_t maxLine_;
  Buffer carry_;                // the start of a line cut off by the last chunk
  bool dropLineFeed_ = false;   // the last chunk ended at a CR: a LF right after it belongs to it
  bool end_ = false;
  bool failed_ = false;
  std::uint64_t consumed_ = 0;
  unsigned char lead_[3] = {};  // the file's first bytes
  Sha256* digest_ = nullptr;
};

enum class PipelineEnd {
  Completed,    // every line delivered
  Stopped,      // the delivery answered false
  Cancelled,    // the progress hook answered false, or cancel() was called
  ReadFailed,   // after every line before the failure was delivered
  LineTooLong,  // likewise
  Failed,       // the work, the delivery or the reading threw: see `error`
};

// Runs the whole input after the header through `work` and `deliver`.
// `work` runs on any of `threads` threads (the calling one included), on
// several chunks at once; `deliver` gets the chunks one at a time in input
// order, on any of them, and answers false to stop. At most two chunks per
// thread are in memory, and no chunk is read while the chunks read and not
// yet delivered hold `bytesInFlight` bytes: at most that plus one longest
// line. The hook of `progress` (may be null) is called on the
// calling thread only; its counts move as chunks are delivered. Whatever
// throws (the work, the delivery, the reader, the hook) ends the pass as
// Failed, and `error` (may be null) gets the first exception.
PipelineEnd RunPipeline(ChunkReader& reader, unsigned threads, const std::function<void(Chunk&)>& work,
                        const std::function<bool(const Chunk&)>& deliver, BatchProgress* progress,
                        std::exception_ptr* error = nullptr, std::size_t bytesInFlight = BatchOptions{}.bytesInFlight);

class Pipeline {
 public:
  Pipeline(ChunkReader& reader, unsigned threads, const std::function<void(Chunk&)>& work,
           const std::function<bool(const Chunk&)>& deliver, BatchProgress* progress, std::size_t bytesInFlight);
  PipelineEnd Run();
  // The first exception of a Failed pass.
  std::exception_ptr error() const { return error_; }

 private:
  void Work(bool callingThread);
  Chunk* Acquire();
  void Complete(Chunk* chunk);
  void Stop(PipelineEnd why);  // the first reason wins
  void Fail(std::exception_ptr error);  // Stop(Failed), keeping the first exception

  ChunkReader& reader_;
  const unsigned threads_;
  const std::function<void(Chunk&)>& work_;
  const std::function<bool(const Chunk&)>& deliver_;
  BatchProgress* const progress_;
  const std::size_t bytesInFlight_;

  std::mutex readMutex_;  // the reader and the sequence numbers
  std::uint64_t nextSequence_ = 0;
  bool inputDone_ = false;
  ChunkReader::Status inputStatus_ = ChunkReader::Status::End;

  std::mutex mutex_;  // everything below
  std::condition_variable_any chunkFreed_;
  std::stop_source stop_;
  std::vector<std::unique_ptr<Chunk>> chunks_;
  std::vector<Chunk*> free_;
  std::vector<Chunk*> done_;  // by sequence modulo the number of chunks
  std::uint64_t nextDelivery_ = 0;
  std::size_t textInFlight_ = 0;  // input bytes of the chunks read and not yet delivered
  bool delivering_ = false;
  bool inputEnded_ = false;
  PipelineEnd inputEnd_ = PipelineEnd::Completed;
  bool stopped_ = false;
  PipelineEnd stopReason_ = PipelineEnd::Completed;
  std::exception_ptr error_;
};

}  // namespace velmora::batch
