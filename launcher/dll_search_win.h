// Where the launcher's libraries may come from.
#pragma once

namespace kelto {

// Limits the folders searched by every later library load to System32.
// Call first thing in wWinMain, before anything can load a library.
void RestrictDllSearchToSystem32();

}  // namespace kelto
