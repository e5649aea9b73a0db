#pragma once

#include <string_view>

namespace quillmark::texts {

// Texts and names that more than one flow of the controller uses.
inline constexpr std::string_view applicationFolder = "Quillmark.app";
inline constexpr std::string_view viewerIdentifier = "app.quillmark.viewer";
inline constexpr std::string_view installationCancelled = "Installation cancelled. The previous application was kept.";
inline constexpr std::string_view installTitle = "Install Quillmark";
inline constexpr std::string_view cancelTitle = "Cancel";

} // namespace quillmark::texts
