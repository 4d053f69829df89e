// Where a user's files go: the home directory and the XDG base
// directories, read from the environment at the time of the call.
#pragma once

#include <string>

namespace qs::shares {

// $HOME when it is an absolute path, else the user database's home
// directory, else "/".
std::string homeDirectory();

// An XDG base directory: the variable when it holds an absolute path, else
// `fallback` below the home directory (".cache", ".config", ...).
std::string xdgDirectory(const char* variable, const char* fallback);

}  // namespace qs::shares
