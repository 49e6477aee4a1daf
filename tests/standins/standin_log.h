// What the Downloader stand-ins share: their settings come from the
// environment, and everything they see goes, one line at a time, into the
// file that the test names, so that a test can read what happened.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

// Empty when the variable is unset.
std::wstring EnvText(const wchar_t* name);
// The fallback when the variable is unset or not a number.
long EnvNumber(const wchar_t* name, long fallback);

// The parameters exactly as the starter passed them: the command line
// after the program's own name and the one blank that separates them, so
// that " /S" is seen with its leading blank.
std::wstring RawArguments();

std::string ToUtf8(const std::wstring& wide);

// Appends text and a line break to the file named by KELTO2_STANDIN_LOG.
// The file is opened and closed for every line so that several processes
// can share it; without the variable nothing is written.
void AppendLogLine(const std::string& utf8);

// "token <who> <n>": the TokenElevationType of the stand-in's own token
// (1 default, 2 full, 3 limited), 0 when it cannot be read.
std::string TokenLine(const char* who);

// "<who> cwd <current folder>".
std::string CurrentFolderLine(const char* who);

// For latency figures: appends "<unix time in ms> <what>" to the file named
// by KELTO2_STANDIN_CLOCK_LOG, when set.
void AppendClockMark(const std::string& what);

}  // namespace standin
