// File helpers shared by the registry and the profile: atomic replacement and setting a bad file aside.
#pragma once

#include <optional>
#include <string>

namespace orv::store {

// Reads a whole file; nullopt when it does not exist or cannot be read. `unreadable`, when given,
// says why a file that is there could not be read ("" when it was read or is not there).
std::optional<std::string> ReadFile(const std::string& path, std::string* unreadable = nullptr);

// Replaces path with text through a temporary file, flush and rename, so a crash or a full
// disk leaves either the old file or the new one, never half of one. False on failure.
bool ReplaceFileAtomically(const std::string& path, const std::string& text);

// Moves a malformed file aside (path + ".bad-<time>") and says so on stderr.
void SetAside(const std::string& path, const std::string& why);

// Says a warning on stderr once per distinct message.
void WarnOnce(const std::string& message);

// What is said about a settings file that is there but cannot be read.
std::string KeepOffMessage(const std::string& path, const std::string& why);

// Modification stamp (mtime and size) of a file, empty when absent.
std::string FileStamp(const std::string& path);

bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace orv::store
