// The 128-bit key under which the editor's descriptions are encrypted in the bundle. It is built at run time
// from constants of the program; it keeps the descriptions from casual edits in a shipped bundle and protects
// nothing else.
#pragma once

void teaResourceKey(unsigned int key[4]);
