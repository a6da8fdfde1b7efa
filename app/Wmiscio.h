#pragma once

#include <string>

// True when the title of a top-level window contains Text, ignoring the case of A to Z.
// The first window of the z-order and at most 1000 after it are looked at.
bool WindowTitleExists(const std::string& Text);
// The same test over the process's own top-level windows only.
bool OwnWindowTitleExists(const std::string& Text);
// The Windows directory; empty when it cannot be had or needs 255 characters or more.
std::string GetWindowsFolder();
// The system directory, on the same terms.
std::string GetSystemFolder();
// The temporary folder without its trailing "\"; "D:" for the root of D:.
std::string GetTempFolder();
// The last Count characters of S; all of S when it is shorter, empty for Count <= 0.
std::string RightStr(const std::string& S, int Count);
