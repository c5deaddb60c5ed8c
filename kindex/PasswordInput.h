// Where kindex gets the password for a server: from a file, or typed on the terminal with echo
// off. Never from the command line or the environment, where other users could read it.
#pragma once

#include <string>

namespace kindex {

// The file's content without one trailing line break (LF or CR LF); an empty file is the empty
// password. False with a message when the file cannot be read.
bool readPasswordFile(const std::string &path, std::string &password, std::string &error);

// Asks on the controlling terminal (not on standard input, which may carry a vCard file) with
// echo off, and restores the terminal even when interrupted. False with a message when there is
// no terminal.
bool readPasswordFromTerminal(const std::string &prompt, std::string &password, std::string &error);

}  // namespace kindex
