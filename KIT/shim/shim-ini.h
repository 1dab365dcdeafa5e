// Win32-style profile (INI) files: reads served from a cache of parsed files, every change written back at once by
// regenerating the file into a temporary file beside it and renaming that over it. Any thread.
#pragma once

#include "KIT/shim/shim-types.h"

DWORD GetPrivateProfileString(const char* appname, const char* keyname, const char* def, char* ret, int retsize,
                              const char* fn);
int GetPrivateProfileInt(const char* appname, const char* keyname, int def, const char* fn);
int GetPrivateProfileSection(const char* appname, char* strout, DWORD strout_len, const char* fn);
BOOL GetPrivateProfileStruct(const char* appname, const char* keyname, void* buf, int bufsz, const char* fn);
// False when the change could not be written to the file; the cached copy then follows the file again.
BOOL WritePrivateProfileString(const char* appname, const char* keyname, const char* val, const char* fn);
BOOL WritePrivateProfileSection(const char* appname, const char* strings, const char* fn);
BOOL WritePrivateProfileStruct(const char* appname, const char* keyname, const void* buf, int bufsz, const char* fn);
