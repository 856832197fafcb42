// The frames of a conversation (docs/formats/dde.md): a 4-byte little-endian length and that many
// bytes of data. Plain C++ without Qt or system calls, so that the server, the client and the
// fuzzer read and write frames with the same code.
#ifndef TOMEVA_PLATFORM_DDE_FRAME_H_
#define TOMEVA_PLATFORM_DDE_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tomeva::platform {

// The most data one execute transaction carries; a server refuses more, a client does not send it.
// The one transaction the program sends, a PDF's highlight positions, is at most 4 + 4 x 50,000
// bytes (the plug-in's buffer allows 100 values per match, 500 matches), some 200 KB; five times
// that leaves room, while eight conversations of another program on the machine can make the
// server hold no more than 8 MiB of frames.
inline constexpr std::size_t kDdeMaxData = 1u << 20;
inline constexpr std::size_t kDdeLengthSize = 4;

// The length prefix of a frame carrying `size` bytes (size <= kDdeMaxData).
std::string DdeFramePrefix(std::size_t size);

// Reads one frame at a time from bytes that arrive in pieces of any size. It never takes more
// than the frame it is reading needs, so that what follows a frame stays where it came from
// until that frame has been answered. Memory grows only with the bytes actually taken, never
// with what a length prefix claims. Not thread-safe; one per connection.
class DdeFrameReader {
 public:
  enum class State {
    kEmpty,     // nothing of a frame has arrived
    kPartial,   // part of a frame has arrived
    kComplete,  // a whole frame is waiting to be taken
    kTooLong,   // the prefix claims more than kDdeMaxData: the frame is never read
  };

  // How many more bytes the frame being read needs, at most `limit`; 0 once complete or too long.
  std::size_t Wanted(std::size_t limit) const;
  // Takes from `bytes` what the frame needs, no more; returns how many bytes were taken.
  std::size_t Feed(std::string_view bytes);
  State state() const { return state_; }
  // In kComplete: hands out the frame's data and starts on the next frame. Empty otherwise.
  std::string TakeData();
  // The length the prefix claims, once its 4 bytes are in (even when too long); 0 before.
  std::uint32_t claimed() const { return claimed_; }

 private:
  char prefix_[kDdeLengthSize] = {};
  std::size_t prefix_have_ = 0;
  std::uint32_t claimed_ = 0;
  std::string data_;
  State state_ = State::kEmpty;
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_DDE_FRAME_H_
