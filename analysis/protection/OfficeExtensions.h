// The extensions of the Office families, shared by the dispatch and the
// Office tests.
#pragma once

#include <string_view>

namespace MAIL::office {

inline constexpr std::string_view Word[]{".doc", ".docm", ".docx"};
inline constexpr std::string_view Excel[]{".xls", ".xlsm", ".xlsx", ".xlsb"};
inline constexpr std::string_view PowerPoint[]{".ppt", ".pps", ".pptm", ".pptx", ".ppsx", ".ppsm"};
inline constexpr std::string_view Xps[]{".xps"};

// The packaged (XML) formats; protected, they become compound files.
inline constexpr std::string_view Packages[]{".docx", ".docm", ".pptx", ".pptm", ".ppsx", ".ppsm",
                                             ".xlsb", ".xlsx", ".xlsm", ".xps"};

} // namespace MAIL::office
