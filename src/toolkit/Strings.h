// String loading and formatting in the system's ANSI code page.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

namespace kivo::toolkit {

// A string-table entry of the program (at most 255 bytes); empty when the
// entry does not exist.
std::string LoadResString(UINT id);

// printf-style formatting into a string of any length.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Copies `text` into a fixed field, cut to size - 1 bytes and always
// terminated.
void CopyTruncated(char* field, size_t size, const std::string& text) noexcept;

}  // namespace kivo::toolkit

namespace kivo::toolkit {

// Overwrites the whole buffer of a string that held a secret, then empties
// it.
void WipeString(std::string& text) noexcept;

// A UTF-8 text (as the sources write it) in GBK, code page 936: the bytes of
// the program's Chinese text set.
std::string Gbk(const char* utf8);

}  // namespace kivo::toolkit
