#include "platform/dde_frame.h"

#include <algorithm>

namespace tomeva::platform {

std::string DdeFramePrefix(std::size_t size) {
  std::string prefix(kDdeLengthSize, '\0');
  for (std::size_t i = 0; i < kDdeLengthSize; ++i) prefix[i] = static_cast<char>(size >> (8 * i));
  return prefix;
}

std::size_t DdeFrameReader::Wanted(std::size_t limit) const {
  switch (state_) {
    case State::kComplete:
    case State::kTooLong:
      return 0;
    case State::kEmpty:
    case State::kPartial:
      break;
  }
  const std::size_t left =
      prefix_have_ < kDdeLengthSize ? kDdeLengthSize - prefix_have_ : claimed_ - data_.size();
  return std::min(left, limit);
}

std::size_t DdeFrameReader::Feed(std::string_view bytes) {
  std::size_t taken = 0;
  while (taken < bytes.size() && (state_ == State::kEmpty || state_ == State::kPartial)) {
    state_ = State::kPartial;
    if (prefix_have_ < kDdeLengthSize) {
      prefix_[prefix_have_++] = bytes[taken++];
      if (prefix_have_ < kDdeLengthSize) continue;
      claimed_ = 0;
      for (std::size_t i = 0; i < kDdeLengthSize; ++i) {
        claimed_ |= static_cast<std::uint32_t>(static_cast<unsigned char>(prefix_[i])) << (8 * i);
      }
      // Refused on the prefix alone: the data of such a frame is never waited for or kept.
      if (claimed_ > kDdeMaxData) {
        state_ = State::kTooLong;
        break;
      }
    } else {
      const std::size_t part = std::min(bytes.size() - taken, claimed_ - data_.size());
      data_.append(bytes.data() + taken, part);
      taken += part;
    }
    if (data_.size() == claimed_) state_ = State::kComplete;
  }
  return taken;
}

std::string DdeFrameReader::TakeData() {
  if (state_ != State::kComplete) return std::string();
  std::string data;
  data.swap(data_);
  prefix_have_ = 0;
  claimed_ = 0;
  state_ = State::kEmpty;
  return data;
}

}  // namespace tomeva::platform
