#pragma once
// What the device streams after a feedback request.

namespace vorn {

// The number is the feedback request's payload byte.
enum class FeedbackMode { Target = 0, Raw = 1, Off = 2 };

}  // namespace vorn
