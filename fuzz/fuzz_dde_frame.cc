// A conversation's bytes as a client of any kind may send them: the first byte chooses the size of
// the pieces they arrive in, the rest is the stream. The reader must hand out exactly the frames
// the stream holds, never take more than the frame it reads needs, and stop at a prefix that
// claims more than a frame may carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/dde_frame.h"

using tomeva::platform::DdeFramePrefix;
using tomeva::platform::DdeFrameReader;
using tomeva::platform::kDdeLengthSize;
using tomeva::platform::kDdeMaxData;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = static_cast<std::size_t>(data[0] % 16) + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  DdeFrameReader reader;
  std::size_t at = 0;        // bytes taken so far
  std::size_t frame_at = 0;  // where the frame being read began
  while (at < stream.size()) {
    const std::size_t wanted = reader.Wanted(piece);
    if (wanted == 0 || wanted > piece) std::abort();
    const std::size_t taken = reader.Feed(stream.substr(at, piece));
    if (taken > piece || taken > stream.size() - at) std::abort();
    at += taken;
    switch (reader.state()) {
      case DdeFrameReader::State::kComplete: {
        const std::string frame = reader.TakeData();
        // The frame is exactly the bytes taken for it, prefix and data.
        if (frame.size() > kDdeMaxData) std::abort();
        if (DdeFramePrefix(frame.size()) + frame != stream.substr(frame_at, at - frame_at)) {
          std::abort();
        }
        frame_at = at;
        break;
      }
      case DdeFrameReader::State::kTooLong:
        // Judged on the prefix alone: nothing of the data was taken, nothing more is.
        if (at - frame_at != kDdeLengthSize || reader.claimed() <= kDdeMaxData) std::abort();
        if (reader.Feed(stream.substr(at)) != 0 || reader.Wanted(piece) != 0) std::abort();
        return 0;
      case DdeFrameReader::State::kEmpty:
      case DdeFrameReader::State::kPartial:
        if (taken == 0) std::abort();  // wanted more, was offered more, took nothing
        break;
    }
  }
  return 0;
}
