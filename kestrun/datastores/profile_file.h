// The file side of the profile functions, one implementation per platform (profile_posix.cpp,
// profile_win32.cpp).
#pragma once

#include "kestrun/datastores/profile.h"

#include <functional>
#include <optional>
#include <string_view>

namespace kestrun::platform {

// The document of a complete reading of the file; nullopt when it cannot be read.
std::optional<datastores::IniDocument> LoadProfileDocument(std::u16string_view file);

// Locks the file (creating it when missing), lets `modify` change its document and replaces the
// file with the result in one step. False, and the file as it was, when anything fails.
bool UpdateProfileDocument(std::u16string_view file,
                           const std::function<bool(datastores::IniDocument &)> &modify);

} // namespace kestrun::platform
