#pragma once

namespace skarnel {

// Who we are, as the windows, the mail subject and the About window say it.
inline constexpr const char* kProductTitle = "Skarnel";
inline constexpr const char* kProductVersion = "1.0";
inline constexpr const char* kFeedbackAddress = "feedback@orvane.example";
inline constexpr const char* kMakerWebPage = "https://orvane.example/";

}  // namespace skarnel
